// orvelle-cli: the desktop tool's conversion and a description of wave files, for
// batch work and scripts.
#include "Describe.h"

#include "app/CoreSouece.h"
#include "app/Crosscancel.h"
#include "wave/Mmwave.h"
#include "waveio/Mmwaveio.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <getopt.h>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace orvelle;

constexpr const char* kVersion = "orvelle-cli 0.1.0";
constexpr int kUsageError = 2;

const char* const kToolUsage = "Usage: orvelle-cli COMMAND [OPTIONS] FILE...\n"
                               "\n"
                               "Commands:\n"
                               "  convert   weaken the centre of stereo wave files in place (original kept as .org)\n"
                               "  info      describe wave files\n"
                               "\n"
                               "Run 'orvelle-cli COMMAND --help' for the options of a command.\n";

const char* const kConvertUsage = "Usage: orvelle-cli convert [-s|--strength PERCENT] FILE...\n"
                                  "\n"
                                  "Rewrites each PCM wave file in place: every sample of a channel pair loses PERCENT\n"
                                  "percent of the other sample. The file as it was is kept beside it with the\n"
                                  "extension .org (a backup that exists already is kept). Files that are not PCM are\n"
                                  "skipped.\n"
                                  "\n"
                                  "  -s, --strength PERCENT  an integer from 0 to 100 (default 30)\n"
                                  "      --help              show this help\n"
                                  "      --version           show the version\n";

const char* const kInfoUsage = "Usage: orvelle-cli info [--json] FILE...\n"
                               "\n"
                               "Describes each wave file: format, layout of its data and its INFO texts.\n"
                               "\n"
                               "      --json     one JSON object per line instead of key: value lines\n"
                               "      --help     show this help\n"
                               "      --version  show the version\n";

int usageError(const std::string& message, const char* usage)
{
    std::cerr << "orvelle-cli: " << message << "\n\n" << usage;
    return kUsageError;
}

// getopt has already said what was wrong with the option.
int usageAfterOptionError(const char* usage)
{
    std::cerr << "\n" << usage;
    return kUsageError;
}

// Decimal digits with an optional "+"; strtol alone would also take leading blanks.
bool parseStrength(const char* text, int& out)
{
    if (!std::isdigit(static_cast<unsigned char>(text[0])) && text[0] != '+')
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 100)
        return false;
    out = static_cast<int>(v);
    return true;
}

// A text as one line: control characters (a line break in a comment, say) are written
// as escapes, so that every field stays on its own line.
std::string oneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) {
            line += c;
            continue;
        }
        switch (c) {
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\t':
            line += "\\t";
            break;
        default: {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            line += hex;
        }
        }
    }
    return line;
}

// Why the file the conversion just left alone was not converted: its format tag, and for
// an extensible file its sub-format. The source wave stays bound to the file, so its
// format is at hand without reading the file a second time.
std::string notConvertedReasonOf(const TCoreForm& core)
{
    const TMMWave& wave = core.SrcFile.Wave();
    const TWaveFormatEx* format = wave.GetPWaveFormat();
    if (format == nullptr)
        return notConvertedReason(0, std::nullopt);
    ExtensibleInfo fields{};
    std::optional<ExtensibleInfo> extensible;
    if (readExtensible(format, wave.formatRecordSize(), fields))
        extensible = fields;
    return notConvertedReason(format->wFormatTag, extensible);
}

int runConvert(int argc, char** argv)
{
    int strength = 30;
    enum { optHelp = 1000, optVersion };
    static const option longOptions[] = {{"strength", required_argument, nullptr, 's'},
        {"help", no_argument, nullptr, optHelp}, {"version", no_argument, nullptr, optVersion},
        {nullptr, 0, nullptr, 0}};
    int c;
    while ((c = getopt_long(argc, argv, "s:", longOptions, nullptr)) != -1) {
        switch (c) {
        case 's':
            if (!parseStrength(optarg, strength))
                return usageError(
                    std::string("strength must be an integer from 0 to 100, not '") + optarg + "'", kConvertUsage);
            break;
        case optHelp:
            std::cout << kConvertUsage;
            return 0;
        case optVersion:
            std::cout << kVersion << "\n";
            return 0;
        default:
            return usageAfterOptionError(kConvertUsage);
        }
    }
    if (optind >= argc)
        return usageError("no file given", kConvertUsage);

    TCoreForm core;
    int status = 0;
    for (int i = optind; i < argc; ++i) {
        const std::string file = argv[i];
        const std::string shown = oneLine(file);
        if (std::string reason = nonRegularFileReason(file); !reason.empty()) {
            std::cerr << "error " << shown << ": " << reason << std::endl;
            status = 1;
            continue;
        }
        try {
            if (core.ConvertFile(file, strength)) {
                std::cout << "converted " << shown << std::endl;
                if (!core.lastWarning().empty())
                    std::cerr << "warning " << shown << ": " << oneLine(core.lastWarning()) << std::endl;
            } else {
                std::cout << "skipped " << shown << ": " << notConvertedReasonOf(core) << std::endl;
            }
        } catch (const std::exception& e) {
            std::cerr << "error " << shown << ": " << oneLine(e.what()) << std::endl;
            status = 1;
        }
    }
    return status;
}

// subFormat, validBits and channelMask of an extensible file: numbers, except a
// sub-format GUID not of the standard form, which is given as its text; all null when
// the record is too short to hold them. Nothing for other tags.
nlohmann::json extensibleFields(const WaveDescription& d)
{
    nlohmann::json fields = nlohmann::json::object();
    if (d.formatTag != WAVE_FORMAT_EXTENSIBLE)
        return fields;
    if (!d.extensible)
        return {{"subFormat", nullptr}, {"validBits", nullptr}, {"channelMask", nullptr}};
    const ExtensibleInfo& e = *d.extensible;
    fields["subFormat"] = e.knownSubFormat ? nlohmann::json(e.subFormatTag) : nlohmann::json(guidText(e.subFormat));
    fields["validBits"] = e.validBits;
    fields["channelMask"] = e.channelMask;
    return fields;
}

nlohmann::json withExtensibleFields(nlohmann::json j, const WaveDescription& d)
{
    j.update(extensibleFields(d));
    return j;
}

nlohmann::json toJson(const WaveDescription& d)
{
    nlohmann::json info = nlohmann::json::object();
    for (const auto& [id, text] : d.info)
        info[id] = text;
    return {{"file", d.file}, {"formatTag", d.formatTag}, {"formatName", d.formatName}, {"channels", d.channels},
        {"sampleRate", d.sampleRate}, {"avgBytesPerSec", d.avgBytesPerSec}, {"blockAlign", d.blockAlign},
        {"bitsPerSample", d.bitsPerSample}, {"dataOffset", d.dataOffset}, {"dataBytes", d.dataBytes},
        {"samples", d.samples}, {"durationMs", d.durationMs}, {"fileSize", d.fileSize}, {"info", info}};
}

// A JSON value of the extensible fields in the text form: numbers in decimal, texts as
// they are, null as "none".
std::string textValue(const nlohmann::json& value)
{
    if (value.is_null())
        return "none";
    return value.is_string() ? value.get<std::string>() : value.dump();
}

void printText(const WaveDescription& d, bool first)
{
    if (!first)
        std::cout << "\n";
    std::cout << "file: " << oneLine(d.file) << "\n"
              << "formatTag: " << d.formatTag << "\n"
              << "formatName: " << oneLine(d.formatName) << "\n"
              << "channels: " << d.channels << "\n"
              << "sampleRate: " << d.sampleRate << "\n"
              << "avgBytesPerSec: " << d.avgBytesPerSec << "\n"
              << "blockAlign: " << d.blockAlign << "\n"
              << "bitsPerSample: " << d.bitsPerSample << "\n"
              << "dataOffset: " << d.dataOffset << "\n"
              << "dataBytes: " << d.dataBytes << "\n"
              << "samples: " << d.samples << "\n"
              << "durationMs: " << d.durationMs << "\n"
              << "fileSize: " << d.fileSize << "\n";
    const nlohmann::json extensible = extensibleFields(d); // outlives the loop over its items
    for (const auto& [key, value] : extensible.items())
        std::cout << key << ": " << textValue(value) << "\n";
    for (const auto& [id, text] : d.info)
        std::cout << "info." << id << ": " << oneLine(text) << "\n";
}

int runInfo(int argc, char** argv)
{
    bool json = false;
    enum { optJson = 1000, optHelp, optVersion };
    static const option longOptions[] = {{"json", no_argument, nullptr, optJson},
        {"help", no_argument, nullptr, optHelp}, {"version", no_argument, nullptr, optVersion},
        {nullptr, 0, nullptr, 0}};
    int c;
    while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        switch (c) {
        case optJson:
            json = true;
            break;
        case optHelp:
            std::cout << kInfoUsage;
            return 0;
        case optVersion:
            std::cout << kVersion << "\n";
            return 0;
        default:
            return usageAfterOptionError(kInfoUsage);
        }
    }
    if (optind >= argc)
        return usageError("no file given", kInfoUsage);

    int status = 0;
    bool first = true;
    for (int i = optind; i < argc; ++i) {
        WaveDescription d;
        std::string error = describeWaveFile(argv[i], d);
        if (!error.empty()) {
            std::cout.flush();
            std::cerr << "error " << oneLine(argv[i]) << ": " << oneLine(error) << std::endl;
            status = 1;
            continue;
        }
        if (json)
            // INFO texts are bytes of unknown encoding: invalid UTF-8 becomes U+FFFD.
            std::cout
                << withExtensibleFields(toJson(d), d).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                << "\n";
        else
            printText(d, first);
        first = false;
    }
    std::cout.flush();
    return status;
}

int dispatch(int argc, char** argv)
{
    if (argc < 2)
        return usageError("no command given", kToolUsage);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::cout << kToolUsage;
        return 0;
    }
    if (command == "--version") {
        std::cout << kVersion << "\n";
        return 0;
    }
    // The subcommand parses from its own name on; options may follow the files, as "--"
    // ends them. getopt names argv[0] in its messages.
    static char convertName[] = "orvelle-cli convert";
    static char infoName[] = "orvelle-cli info";
    optind = 1;
    if (command == "convert") {
        argv[1] = convertName;
        return runConvert(argc - 1, argv + 1);
    }
    if (command == "info") {
        argv[1] = infoName;
        return runInfo(argc - 1, argv + 1);
    }
    return usageError("unknown command '" + command + "'", kToolUsage);
}

} // namespace

// Output that could not be written (a full disk, a closed pipe) fails the run.
int main(int argc, char** argv)
{
    const int status = dispatch(argc, argv);
    if (!std::cout.flush()) {
        std::cerr << "orvelle-cli: cannot write to standard output" << std::endl;
        return status == 0 ? 1 : status;
    }
    return status;
}
