// Runs the built orvelle-cli as a user would and checks what it prints and returns.
#include "TestSupport.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace orvelle {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::Bytes;
using test::TempDir;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the tool in `cwd` (when given); a run that does not end within a minute is
// killed, so that a tool that blocks fails the test instead of holding it up.
// `env` goes before the command: NAME=VALUE words, already quoted.
RunResult run(const std::vector<std::string>& args, const std::string& cwd = "", const std::string& env = "")
{
    TempDir scratch;
    std::string cmd = cwd.empty() ? "" : "cd " + quote(cwd) + " && ";
    cmd += env + " timeout -k 5 60 " + quote(std::string(ORVELLE_BIN_DIR) + "/orvelle-cli");
    for (const auto& a : args)
        cmd += " " + quote(a);
    cmd += " 2>" + quote(scratch.file("err")) + " </dev/null";
    RunResult r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    Bytes err = test::ReadFileBytes(scratch.file("err"));
    r.err.assign(err.begin(), err.end());
    return r;
}

json expectedSamples()
{
    std::ifstream in(test::SamplesDir() / "expected.json");
    return json::parse(in);
}

TEST(InfoJson, DescribesEverySampleFileAsExpected)
{
    ORVELLE_REQUIRE_SAMPLES();
    const json expected = expectedSamples();
    ASSERT_FALSE(expected.empty());
    for (const auto& [name, want] : expected.items()) {
        SCOPED_TRACE(name);
        const std::string path = (test::SamplesDir() / name).string();
        RunResult r = run({"info", "--json", path});
        if (want == "refused") {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.rfind("error " + path + ": ", 0), 0u) << r.err;
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        json got = json::parse(r.out);
        for (const auto& [key, value] : want.items())
            EXPECT_EQ(got.at(key), value) << key;
        EXPECT_EQ(got.at("file"), path);
        EXPECT_FALSE(got.at("formatName").get<std::string>().empty());
        const double rate = want.at("sampleRate").get<double>();
        const double ms = want.at("samples").get<double>() * 1000.0 / rate;
        EXPECT_EQ(got.at("durationMs").get<int64_t>(), static_cast<int64_t>(std::floor(ms + 0.5)));
    }
}

TEST(InfoJson, NamesTheFormat)
{
    ORVELLE_REQUIRE_SAMPLES();
    const struct {
        const char* file;
        const char* name;
    } cases[] = {{"sox-16-stereo-s.wav", "PCM"}, {"sox-imaadpcm-s.wav", "IMA ADPCM"},
        {"sox-msadpcm-mono-s.wav", "Microsoft ADPCM"}, {"sox-alaw-s.wav", "CCITT A-Law"},
        {"sox-ulaw-s.wav", "CCITT mu-Law"}, {"sox-float-s.wav", "Mediavision's ADPCM"},
        {"sox-24-extensible-s.wav", "EXTENSIBLE (PCM)"}};
    for (const auto& c : cases) {
        RunResult r = run({"info", "--json", (test::SamplesDir() / c.file).string()});
        ASSERT_EQ(r.status, 0) << c.file << r.err;
        EXPECT_EQ(json::parse(r.out).at("formatName").get<std::string>(), c.name) << c.file;
    }
}

TEST(Info, GoesOnAfterABadFileAndFailsOverall)
{
    ORVELLE_REQUIRE_SAMPLES();
    const std::string good = (test::SamplesDir() / "sox-16-mono-s.wav").string();
    const std::string bad = (test::SamplesDir() / "bad-text-s.wav").string();
    RunResult r = run({"info", "--json", bad, "/no/such/file.wav", good});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(json::parse(r.out).at("file"), good);
    EXPECT_NE(r.err.find("error " + bad + ": not a RIFF/WAVE file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("error /no/such/file.wav: cannot be opened"), std::string::npos) << r.err;
}

TEST(Info, SaysWhatIsWrong)
{
    ORVELLE_REQUIRE_SAMPLES();
    const struct {
        const char* file;
        const char* reason;
    } cases[] = {{"bad-empty-s.wav", "not a RIFF/WAVE file"}, {"bad-rifx-s.wav", "not a RIFF/WAVE file"},
        {"bad-no-fmt-s.wav", "no \"fmt \" chunk"}, {"bad-zero-rate-s.wav", "unusable format"}};
    for (const auto& c : cases) {
        const std::string path = (test::SamplesDir() / c.file).string();
        RunResult r = run({"info", path});
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_NE(r.err.find("error " + path + ": " + c.reason), std::string::npos) << r.err;
    }
}

TEST(Info, TextFormHasOneLinePerField)
{
    ORVELLE_REQUIRE_SAMPLES();
    const std::string path = (test::SamplesDir() / "ffmpeg-16-info-s.wav").string();
    RunResult r = run({"info", path});
    ASSERT_EQ(r.status, 0) << r.err;
    const char* lines[] = {"formatTag: 1\n", "channels: 2\n", "sampleRate: 44100\n", "dataOffset: 124\n",
        "samples: 11025\n", "durationMs: 250\n", "info.INAM: Song s\n", "info.ISFT: Lavf59.27.100\n"};
    EXPECT_EQ(r.out.rfind("file: " + path + "\n", 0), 0u);
    for (const char* line : lines)
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

// A line break in an INFO text does not start a line that reads as another field; JSON
// keeps the text as it is.
TEST(Info, TextFormKeepsEachTextOnItsLine)
{
    const std::string comment = "one\nformatTag: 99\r\tend\x01";
    Bytes list;
    test::PutId(list, "INFO");
    Bytes text(comment.begin(), comment.end());
    text.push_back(0);
    test::PutChunk(list, "ICMT", text);
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", test::PcmFmtBody(2, 8000, 16));
    test::PutChunk(chunks, "LIST", list);
    test::PutChunk(chunks, "data", Bytes(16, 0));
    TempDir dir;
    test::WriteFileBytes(dir.file("c.wav"), test::RiffWave(chunks));

    RunResult r = run({"info", dir.file("c.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\ninfo.ICMT: one\\nformatTag: 99\\r\\tend\\x01\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\nformatTag: 99"), std::string::npos) << r.out;
    r = run({"info", "--json", dir.file("c.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).at("info").at("ICMT"), comment);
}

// A file its user may read but not write is described and converted like any other; the
// folder allows the renames. Root may write any file, so as root the tool runs as nobody
// on a file nobody owns without write permission.
TEST(Info, DescribesAndConvertsAFileItMayNotWrite)
{
    ORVELLE_REQUIRE_SAMPLES();
    TempDir dir;
    const std::string file = dir.file("ro.wav");
    fs::copy_file(test::SamplesDir() / "sox-16-stereo-s.wav", file);
    const Bytes original = test::ReadFileBytes(file);
    std::string asUser;
    if (::geteuid() == 0) {
        if (std::system("command -v setpriv >/dev/null") != 0)
            GTEST_SKIP() << "setpriv is needed to run as another user";
        ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
        fs::permissions(dir.path(), fs::perms::all);
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups";
        const std::string tool = std::string(ORVELLE_BIN_DIR) + "/orvelle-cli";
        if (std::system((asUser + " test -x " + quote(tool)).c_str()) != 0)
            GTEST_SKIP() << "nobody may not run " << tool;
    }
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    RunResult r = run({"info", "--json", file}, "", asUser);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).at("samples"), 11025);
    r = run({"convert", file}, "", asUser);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "converted " + file + "\n");
    EXPECT_EQ(test::ReadFileBytes(dir.file("ro.org")), original);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

TEST(Usage, ErrorsHelpAndVersion)
{
    const struct {
        std::vector<std::string> args;
        int status;
        const char* inOut;
        const char* inErr;
    } cases[] = {
        {{}, 2, "", "Usage: orvelle-cli COMMAND"},
        {{"frobnicate"}, 2, "", "unknown command 'frobnicate'"},
        {{"--help"}, 0, "Usage: orvelle-cli COMMAND", ""},
        {{"--version"}, 0, "orvelle-cli ", ""},
        {{"info"}, 2, "", "no file given"},
        {{"info", "--bogus", "x.wav"}, 2, "", "Usage: orvelle-cli info"},
        {{"info", "--help"}, 0, "Usage: orvelle-cli info [--json] FILE...", ""},
        {{"info", "--version"}, 0, "orvelle-cli ", ""},
        {{"convert"}, 2, "", "no file given"},
        {{"convert", "--help"}, 0, "Usage: orvelle-cli convert [-s|--strength PERCENT] FILE...", ""},
        {{"convert", "--version"}, 0, "orvelle-cli ", ""},
        {{"convert", "-s", "101", "x.wav"}, 2, "", "strength must be an integer from 0 to 100"},
        {{"convert", "-s", "-1", "x.wav"}, 2, "", "strength must be an integer from 0 to 100"},
        {{"convert", "--strength=3x", "x.wav"}, 2, "", "not '3x'"},
        {{"convert", "-s"}, 2, "", "Usage: orvelle-cli convert"},
        {{"convert", "-s"}, 2, "", "orvelle-cli convert: option requires an argument -- 's'\n"},
        {{"convert", "-s", " 5", "x.wav"}, 2, "", "not ' 5'"},
        {{"convert", "x.wav", "--bogus"}, 2, "", "orvelle-cli convert: unrecognized option '--bogus'\n"},
        {{"info", "--json=1", "x.wav"}, 2, "", "orvelle-cli info: option '--json' doesn't allow an argument\n"},
    };
    for (const auto& c : cases) {
        RunResult r = run(c.args);
        std::string what = c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_NE(r.out.find(c.inOut), std::string::npos) << what << ": " << r.out;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << what << ": " << r.err;
    }
}

std::vector<std::string> folderEntries(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Convert, SkipsNonPcmAndChangesNothing)
{
    ORVELLE_REQUIRE_SAMPLES();
    TempDir dir;
    fs::copy_file(test::SamplesDir() / "sox-imaadpcm-s.wav", dir.file("a.wav"));
    const Bytes before = test::ReadFileBytes(dir.file("a.wav"));
    RunResult r = run({"convert", dir.file("a.wav")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "skipped " + dir.file("a.wav") + ": not PCM (format tag 0x0011)\n");
    EXPECT_EQ(test::ReadFileBytes(dir.file("a.wav")), before);
    EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"a.wav"});
}

TEST(Convert, ReportsBadAndMissingFilesAndGoesOn)
{
    ORVELLE_REQUIRE_SAMPLES();
    TempDir dir;
    fs::copy_file(test::SamplesDir() / "bad-text-s.wav", dir.file("bad.wav"));
    fs::copy_file(test::SamplesDir() / "sox-16-stereo-s.wav", dir.file("good.wav"));
    const Bytes bad = test::ReadFileBytes(dir.file("bad.wav"));
    const Bytes good = test::ReadFileBytes(dir.file("good.wav"));
    RunResult r = run({"convert", "-s", "100", dir.file("bad.wav"), dir.file("missing.wav"), dir.file("good.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error " + dir.file("bad.wav") + ": Invalid wave file..."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("error " + dir.file("missing.wav") + ": Error reading wave file"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "converted " + dir.file("good.wav") + "\n");
    EXPECT_EQ(test::ReadFileBytes(dir.file("bad.wav")), bad);
    EXPECT_EQ(test::ReadFileBytes(dir.file("good.wav.org")).size(), 0u) << "backup name replaces the extension";
    EXPECT_EQ(test::ReadFileBytes(dir.file("good.org")), good);
    EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"bad.wav", "good.org", "good.wav"}));
}

TEST(Convert, EmptyNameIsAnError)
{
    RunResult r = run({"convert", ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error : Error reading wave file\n");
}

// A file name cannot forge a line: convert writes names with the escapes of info, on each
// of its lines (converted, skipped, error).
TEST(Convert, NamesAreWrittenWithTheEscapesOfInfo)
{
    TempDir dir;
    Bytes pcm, other;
    test::PutChunk(pcm, "fmt ", test::PcmFmtBody(2, 8000, 16));
    test::PutChunk(pcm, "data", Bytes(16, 1));
    Bytes fmt = test::PcmFmtBody(2, 8000, 16);
    fmt[0] = 6; // A-law
    test::PutChunk(other, "fmt ", fmt);
    test::PutChunk(other, "data", Bytes(16, 1));
    const std::string forged = "x\nconverted y\t\x01";
    const std::string shown = "x\\nconverted y\\t\\x01";
    const std::string good = dir.file("a" + forged + ".wav"), skipped = dir.file("b" + forged + ".wav"),
                      bad = dir.file("c" + forged + ".wav");
    test::WriteFileBytes(good, test::RiffWave(pcm));
    test::WriteFileBytes(skipped, test::RiffWave(other));
    test::WriteFileBytes(bad, Bytes{'t', 'e', 'x', 't'});
    RunResult r = run({"convert", good, skipped, bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
        "converted " + dir.file("a" + shown + ".wav") + "\nskipped " + dir.file("b" + shown + ".wav") +
            ": not PCM (format tag 0x0006)\n");
    EXPECT_EQ(r.err, "error " + dir.file("c" + shown + ".wav") + ": Invalid wave file...\n");
    r = run({"info", bad});
    EXPECT_EQ(r.err.rfind("error " + dir.file("c" + shown + ".wav") + ": ", 0), 0u) << r.err;
}

// The folder cannot be flushed after the renames: the file is converted all the same, and
// a warning says what may not survive a power cut. Converting again would cancel twice.
TEST(Convert, UnflushedFolderIsAWarningNotAFailure)
{
    TempDir dir;
    Bytes pcm;
    test::PutChunk(pcm, "fmt ", test::PcmFmtBody(2, 8000, 16));
    test::PutChunk(pcm, "data", Bytes(16, 1));
    const std::string file = dir.file("a.wav");
    test::WriteFileBytes(file, test::RiffWave(pcm));
    // The sanitizer runtime need not come first when another library is preloaded.
    const std::string env = "LD_PRELOAD=" + quote(ORVELLE_FAIL_FOLDER_FSYNC) + " ASAN_OPTIONS=verify_asan_link_order=0";
    RunResult r = run({"convert", file}, "", env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "converted " + file + "\n");
    EXPECT_EQ(r.err.rfind("warning " + file + ": unable to flush the folder of \"" + file + "\"", 0), 0u) << r.err;
    EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"a.org", "a.wav"}));
    EXPECT_EQ(test::ReadFileBytes(dir.file("a.org")), test::RiffWave(pcm));
}

// Options may follow the files, "--" lets a file name start with "-", and the strength
// is read as a decimal number: each run converts as "-s REFERENCE FILE" does.
TEST(Convert, ArgumentsInAnyOrderAndDecimalStrength)
{
    ORVELLE_REQUIRE_SAMPLES();
    const struct {
        std::vector<std::string> args;
        const char* file;
        const char* reference;
    } cases[] = {
        {{"t.wav", "-s", "100"}, "t.wav", "100"},
        {{"t.wav", "--strength=5"}, "t.wav", "5"},
        {{"-s", "030", "t.wav"}, "t.wav", "30"},
        {{"-s", "+5", "t.wav"}, "t.wav", "5"},
        {{"-s", "100", "--", "-n.wav"}, "-n.wav", "100"},
    };
    const fs::path sample = test::SamplesDir() / "sox-16-stereo-s.wav";
    for (const auto& c : cases) {
        std::string trace;
        for (const auto& a : c.args)
            trace += a + " ";
        SCOPED_TRACE(trace);
        TempDir dir;
        fs::copy_file(sample, dir.file(c.file));
        fs::copy_file(sample, dir.file("ref.wav"));
        std::vector<std::string> args{"convert"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = run(args, dir.path().string());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::string("converted ") + c.file + "\n");
        ASSERT_EQ(run({"convert", "-s", c.reference, dir.file("ref.wav")}).status, 0);
        EXPECT_EQ(test::ReadFileBytes(dir.file(c.file)), test::ReadFileBytes(dir.file("ref.wav")));
    }
}

TEST(Output, ThatCannotBeWrittenFailsTheRun)
{
    ORVELLE_REQUIRE_SAMPLES();
    TempDir dir;
    const std::string tool = quote(std::string(ORVELLE_BIN_DIR) + "/orvelle-cli");
    const std::string sample = quote((test::SamplesDir() / "sox-16-stereo-s.wav").string());
    for (const std::string& args : std::vector<std::string>{"--help", "info " + sample, "info --json " + sample}) {
        SCOPED_TRACE(args);
        const int raw = std::system((tool + " " + args + " >/dev/full 2>" + quote(dir.file("err"))).c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 1);
        const Bytes err = test::ReadFileBytes(dir.file("err"));
        EXPECT_EQ(std::string(err.begin(), err.end()), "orvelle-cli: cannot write to standard output\n");
    }
}

// A folder or a FIFO is refused by name before anything opens it: opening a FIFO would
// wait for a writer that never comes.
TEST(NonRegularFiles, AreRefusedWithoutWaitingAndTheRestGoesOn)
{
    ORVELLE_REQUIRE_SAMPLES();
    TempDir dir;
    fs::create_directory(dir.file("folder.wav"));
    ASSERT_EQ(::mkfifo(dir.file("fifo.wav").c_str(), 0600), 0);
    fs::copy_file(test::SamplesDir() / "sox-16-stereo-s.wav", dir.file("good.wav"));
    const std::string folderError = "error " + dir.file("folder.wav") + ": is a folder, not a file\n";
    const std::string fifoError = "error " + dir.file("fifo.wav") + ": not a regular file (a FIFO, device or socket)\n";
    for (const char* command : {"info", "convert"}) {
        SCOPED_TRACE(command);
        RunResult r = run({command, dir.file("folder.wav"), dir.file("fifo.wav"), dir.file("good.wav")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, folderError + fifoError);
        EXPECT_NE(r.out.find(dir.file("good.wav")), std::string::npos) << r.out;
    }
    EXPECT_TRUE(fs::exists(dir.file("good.org")));
    EXPECT_EQ(fs::status(dir.file("fifo.wav")).type(), fs::file_type::fifo);
}

// sox-24-extensible-s.wav with its sub-format GUID (at byte 44) replaced.
Bytes extensibleWithGuid(const Bytes& guid)
{
    Bytes b = test::ReadFileBytes(test::SamplesDir() / "sox-24-extensible-s.wav");
    std::copy(guid.begin(), guid.end(), b.begin() + 44);
    return b;
}

Bytes standardGuid(uint8_t tag) { return {tag, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}; }
const Bytes kAmbisonicGuid = {1, 0, 0, 0, 0x21, 0x07, 0xD3, 0x11, 0x86, 0x44, 0xC8, 0xC1, 0xCA, 0, 0, 0};

// An extensible record whose cbSize (at byte 36) is too small for the extensible fields.
Bytes extensibleWithoutFields()
{
    Bytes b = test::ReadFileBytes(test::SamplesDir() / "sox-24-extensible-s.wav");
    b[36] = 0;
    return b;
}

TEST(Convert, SkipsWhatItDoesNotTakeWithTheReason)
{
    ORVELLE_REQUIRE_SAMPLES();
    auto sample = [](const char* name) { return test::ReadFileBytes(test::SamplesDir() / name); };
    const struct {
        const char* what;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"IMA ADPCM", sample("sox-imaadpcm-s.wav"), "not PCM (format tag 0x0011)"},
        {"MS ADPCM", sample("sox-msadpcm-stereo-s.wav"), "not PCM (format tag 0x0002)"},
        {"A-law", sample("sox-alaw-s.wav"), "not PCM (format tag 0x0006)"},
        {"mu-law", sample("sox-ulaw-s.wav"), "not PCM (format tag 0x0007)"},
        {"extensible MS ADPCM", extensibleWithGuid(standardGuid(2)), "not PCM (format tag 0xFFFE, sub-format 0x0002)"},
        {"extensible mu-law", extensibleWithGuid(standardGuid(7)), "not PCM (format tag 0xFFFE, sub-format 0x0007)"},
        {"extensible, foreign GUID", extensibleWithGuid(kAmbisonicGuid),
            "not PCM (format tag 0xFFFE, sub-format {00000001-0721-11D3-8644-C8C1CA000000})"},
        {"extensible without its fields", extensibleWithoutFields(), "not PCM (format tag 0xFFFE, no sub-format)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        test::WriteFileBytes(dir.file("a.wav"), c.bytes);
        RunResult r = run({"convert", dir.file("a.wav")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "skipped " + dir.file("a.wav") + ": " + c.reason + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(test::ReadFileBytes(dir.file("a.wav")), c.bytes);
        EXPECT_EQ(folderEntries(dir), std::vector<std::string>{"a.wav"});
    }
}

TEST(Convert, ConvertsExtensibleAndFloatFiles)
{
    ORVELLE_REQUIRE_SAMPLES();
    for (const char* name : {"sox-24-extensible-s.wav", "ffmpeg-24-extensible-s.wav", "sox-float-s.wav"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        fs::copy_file(test::SamplesDir() / name, dir.file("a.wav"));
        RunResult r = run({"convert", dir.file("a.wav")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "converted " + dir.file("a.wav") + "\n");
        EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"a.org", "a.wav"}));
    }
}

// subFormat, validBits and channelMask for extensible files only: numbers, a foreign GUID
// as its text, null (text form "none") when the record cannot hold them.
TEST(Info, ExtensibleFields)
{
    ORVELLE_REQUIRE_SAMPLES();
    const struct {
        const char* what;
        Bytes bytes;
        json want; // the three fields, or null when the keys must be absent
        const char* text;
    } cases[] = {
        {"sox 24-bit", test::ReadFileBytes(test::SamplesDir() / "sox-24-extensible-s.wav"),
            {{"subFormat", 1}, {"validBits", 24}, {"channelMask", 3}}, "channelMask: 3\nsubFormat: 1\nvalidBits: 24\n"},
        {"ffmpeg 6 channels", test::ReadFileBytes(test::SamplesDir() / "ffmpeg-16-6ch-s.wav"),
            {{"subFormat", 1}, {"validBits", 16}, {"channelMask", 63}},
            "channelMask: 63\nsubFormat: 1\nvalidBits: 16\n"},
        {"foreign GUID", extensibleWithGuid(kAmbisonicGuid),
            {{"subFormat", "{00000001-0721-11D3-8644-C8C1CA000000}"}, {"validBits", 24}, {"channelMask", 3}},
            "subFormat: {00000001-0721-11D3-8644-C8C1CA000000}\n"},
        {"no fields", extensibleWithoutFields(),
            {{"subFormat", nullptr}, {"validBits", nullptr}, {"channelMask", nullptr}},
            "channelMask: none\nsubFormat: none\nvalidBits: none\n"},
        {"float, not extensible", test::ReadFileBytes(test::SamplesDir() / "sox-float-s.wav"), nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        test::WriteFileBytes(dir.file("a.wav"), c.bytes);
        RunResult r = run({"info", "--json", dir.file("a.wav")});
        ASSERT_EQ(r.status, 0) << r.err;
        const json got = json::parse(r.out);
        for (const char* key : {"subFormat", "validBits", "channelMask"}) {
            if (c.want.is_null()) {
                EXPECT_FALSE(got.contains(key)) << key;
            } else {
                EXPECT_EQ(got.at(key), c.want.at(key)) << key;
            }
        }
        RunResult text = run({"info", dir.file("a.wav")});
        ASSERT_EQ(text.status, 0) << text.err;
        EXPECT_NE(text.out.find(c.text), std::string::npos) << text.out;
        if (c.want.is_null()) {
            EXPECT_EQ(text.out.find("subFormat"), std::string::npos) << text.out;
        }
    }
}

} // namespace
} // namespace orvelle
