#include "riff/Mmriff.h"
#include "util/Mmutils.h"

#include "MemoryFile.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvelle {
namespace {

using test::Bytes;
using test::PutChunk;
using test::PutId;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A memory file over `bytes` (the block cannot grow); read-only unless asked.
using test::MemoryFile;

Bytes infoEntry(const char* id, const std::string& text)
{
    Bytes b;
    PutChunk(b, id, Bytes(text.begin(), text.end()));
    return b;
}
Bytes rawEntry(const char* id, uint32_t size, const Bytes& body)
{
    Bytes b;
    PutId(b, id);
    appendLe32(b, size);
    return cat(b, body);
}
Bytes infoList(const Bytes& entries)
{
    Bytes b;
    PutChunk(b, "LIST", cat(bytesOf("INFO"), entries));
    return b;
}

// An INFO list read from `file` (which starts with the list chunk).
struct ReadList {
    TInfoChunk* list = nullptr;
    int32_t rc = -1;
    explicit ReadList(const Bytes& file)
    {
        EXPECT_EQ(RiffInitINFO(list), 0);
        MemoryFile f(file);
        MMCKINFO ck{};
        EXPECT_EQ(mmioDescend(f.h(), &ck, nullptr, 0), 0u);
        rc = RiffReadINFO(f.h(), ck, list);
    }
    ~ReadList()
    {
        if (list != nullptr)
            RiffFreeINFO(list);
    }
    TInfoData* Item(const char* id) const { return RiffFindPIINFO(list, mmioStringToFOURCCA(id, 0)); }
    std::optional<std::string> Current(const char* id) const
    {
        const char* t = RiffInfoText(list, Item(id));
        return t ? std::optional<std::string>(t) : std::nullopt;
    }
    void Set(const char* id, const char* text, uint16_t flags = 1)
    {
        RiffModifyINFO(list, Item(id), flags, 0, text ? RiffNewText(text) : nullptr);
    }
};

Bytes writeInfo(TInfoChunk* list)
{
    MemoryFile out = MemoryFile::empty(4096);
    EXPECT_EQ(RiffWriteINFO(out.h(), list), 0);
    return out.written();
}

// ---- table, codes ----

TEST(RiffTable, IdsInOrderAndLookup)
{
    const auto& ids = test::kInfoIds;
    for (int32_t i = 0; i < kInfoCount; ++i) {
        EXPECT_STREQ(aINFO[i].id, ids[i]);
        EXPECT_GT(std::strlen(aINFO[i].name), 0u);
        EXPECT_GT(std::strlen(aINFO[i].description), 0u);
        EXPECT_EQ(RiffFindaINFO(mmioStringToFOURCCA(ids[i], 0)), i);
    }
    EXPECT_EQ(RiffFindaINFO(mmioFourCC('I', 'X', 'Y', 'Z')), -1);
    EXPECT_EQ(mmioFourCC('R', 'I', 'F', 'F'), 0x46464952u);
    EXPECT_EQ(mmioFourCC(0xFF, 0, 0, 0x80), 0x800000FFu);
}

TEST(RiffInfo, InitMakesTheTableItemsWithoutText)
{
    TInfoChunk* list = nullptr;
    ASSERT_EQ(RiffInitINFO(list), 0);
    int32_t n = 0;
    for (TInfoData* it = list->Items; it != nullptr; it = it->Next, ++n) {
        EXPECT_EQ(it->Index, n);
        EXPECT_EQ(it->State, 0);
        EXPECT_EQ(RiffInfoText(list, it), nullptr);
    }
    EXPECT_EQ(n, kInfoCount);
    EXPECT_TRUE(writeInfo(list).empty()) << "no text: no LIST chunk";
    EXPECT_EQ(RiffFreeINFO(list), 0);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(RiffFreeINFO(list), riffErrBadParam);
}

TEST(RiffInfo, MissingListOrHandle)
{
    TInfoChunk* none = nullptr;
    TInfoChunk* list = nullptr;
    ASSERT_EQ(RiffInitINFO(list), 0);
    MemoryFile f = MemoryFile::empty(64);
    MMCKINFO ck{};
    ck.cksize = 10;
    EXPECT_EQ(RiffWriteINFO(nullptr, list), riffErrBadParam);
    EXPECT_EQ(RiffWriteINFO(f.h(), nullptr), riffErrBadParam);
    EXPECT_EQ(RiffReadINFO(f.h(), ck, nullptr), riffErrBadParam);
    EXPECT_EQ(RiffCopyInfo(none, list), riffErrBadParam);
    EXPECT_EQ(RiffCopyInfo(list, nullptr), riffErrBadParam);
    EXPECT_EQ(RiffFindPIINFO(nullptr, mmioFourCC('I', 'N', 'A', 'M')), nullptr);
    EXPECT_EQ(RiffFindPIINFO(list, mmioFourCC('I', 'X', 'Y', 'Z')), nullptr);
    // A text handed to a missing item is released (LeakSanitizer would tell).
    RiffModifyINFO(list, nullptr, 1, 0, RiffNewText("lost"));
    RiffFreeINFO(list);
}

// ---- parsing ----

struct ParseCase {
    const char* name;
    Bytes entries; // the list body after "INFO"
    std::map<std::string, std::string> texts; // every item with a file text
};

TEST(RiffInfo, ParsesEntriesWithoutLeavingTheBody)
{
    const ParseCase cases[] = {
        {"two entries", cat(infoEntry("INAM", std::string("Hi\0", 3)), infoEntry("IART", std::string("Me\0", 3))),
            {{"INAM", "Hi"}, {"IART", "Me"}}},
        {"unknown id skipped", cat(infoEntry("IXYZ", std::string("zz\0", 3)), infoEntry("ICMT", std::string("c\0", 2))),
            {{"ICMT", "c"}}},
        {"later duplicate wins",
            cat(infoEntry("INAM", std::string("a\0", 2)), infoEntry("INAM", std::string("b\0", 2))), {{"INAM", "b"}}},
        {"later empty duplicate wins", cat(infoEntry("INAM", std::string("a\0", 2)), rawEntry("INAM", 0, {})), {}},
        {"size 0 carries no text", cat(rawEntry("INAM", 0, {}), infoEntry("IART", std::string("x\0", 2))),
            {{"IART", "x"}}},
        {"header past the end dropped", cat(infoEntry("INAM", std::string("ok\0", 3)), bytesOf("IAR")),
            {{"INAM", "ok"}}},
        {"header exactly at the end", rawEntry("INAM", 5, {}), {}},
        {"text past the end cut", rawEntry("INAM", 100, bytesOf("abc")), {{"INAM", "abc"}}},
        {"size 0xFFFFFFFF cut", rawEntry("INAM", 0xFFFFFFFFu, bytesOf("abcd")), {{"INAM", "abcd"}}},
        {"huge size after an entry ends parsing",
            cat(infoEntry("IART", std::string("x\0", 2)), rawEntry("INAM", 0xFFFFFFFEu, bytesOf("ab"))),
            {{"IART", "x"}, {"INAM", "ab"}}},
        {"no zero, even size, next entry kept whole",
            cat(rawEntry("INAM", 4, bytesOf("abcd")), infoEntry("IART", std::string("x\0", 2))),
            {{"INAM", "abcd"}, {"IART", "x"}}},
        {"two entries of even size without zeros",
            cat(cat(rawEntry("INAM", 2, bytesOf("ab")), rawEntry("IART", 4, bytesOf("wxyz"))),
                rawEntry("ICMT", 2, bytesOf("cd"))),
            {{"INAM", "ab"}, {"IART", "wxyz"}, {"ICMT", "cd"}}},
        {"no zero, odd size, pad takes the zero",
            cat(rawEntry("INAM", 3, cat(bytesOf("abc"), Bytes{'Q'})), infoEntry("IART", std::string("x\0", 2))),
            {{"INAM", "abc"}, {"IART", "x"}}},
        {"no zero at the end of the list", rawEntry("INAM", 2, bytesOf("ab")), {{"INAM", "ab"}}},
        {"odd size without pad at the end", rawEntry("INAM", 3, bytesOf(std::string("Hi\0", 3))), {{"INAM", "Hi"}}},
        {"zero inside the entry ends the text", rawEntry("INAM", 6, bytesOf(std::string("ab\0cd\0", 6))),
            {{"INAM", "ab"}}},
        {"only part of a header", bytesOf("IN"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReadList r(infoList(c.entries));
        ASSERT_EQ(r.rc, 0);
        for (int32_t i = 0; i < kInfoCount; ++i) {
            const char* id = aINFO[i].id;
            TInfoData* item = r.Item(id);
            ASSERT_NE(item, nullptr);
            auto want = c.texts.find(id);
            if (want == c.texts.end()) {
                EXPECT_EQ(item->TextOffset, 0) << id;
                continue;
            }
            ASSERT_GT(item->TextOffset, 0) << id;
            EXPECT_EQ(r.Current(id), want->second) << id;
            EXPECT_EQ(item->State, 0);
        }
    }
}

TEST(RiffInfo, BodyOfFourBytesOrLessReadsNothing)
{
    for (uint32_t size : {0u, 3u, 4u}) {
        TInfoChunk* list = nullptr;
        ASSERT_EQ(RiffInitINFO(list), 0);
        MemoryFile f(Bytes(16, 'x'));
        MMCKINFO ck{};
        ck.cksize = size;
        EXPECT_EQ(RiffReadINFO(f.h(), ck, list), 0) << size;
        EXPECT_EQ(list->RawText, nullptr);
        RiffFreeINFO(list);
    }
}

TEST(RiffInfo, BodyLongerThanTheFileIsAReadFailure)
{
    Bytes file = infoList(infoEntry("INAM", std::string("Hi\0", 3)));
    TInfoChunk* list = nullptr;
    ASSERT_EQ(RiffInitINFO(list), 0);
    MemoryFile f(file);
    MMCKINFO ck{};
    ASSERT_EQ(mmioDescend(f.h(), &ck, nullptr, 0), 0u);
    ck.cksize += 1;
    EXPECT_EQ(RiffReadINFO(f.h(), ck, list), riffErrIO);
    ck.cksize = 0xFFFFFFFFu;
    EXPECT_EQ(RiffReadINFO(f.h(), ck, list), riffErrIO);
    EXPECT_EQ(list->RawText, nullptr);
    RiffFreeINFO(list);
}

TEST(RiffInfo, SecondListReplacesTheFileTexts)
{
    Bytes first = infoList(cat(infoEntry("INAM", std::string("one\0", 4)), infoEntry("IART", std::string("me\0", 3))));
    Bytes second = infoList(infoEntry("INAM", std::string("two\0", 4)));
    Bytes file = cat(first, second);
    TInfoChunk* list = nullptr;
    ASSERT_EQ(RiffInitINFO(list), 0);
    MemoryFile f(file);
    MMCKINFO ck{};
    ASSERT_EQ(mmioDescend(f.h(), &ck, nullptr, 0), 0u);
    ASSERT_EQ(RiffReadINFO(f.h(), ck, list), 0);
    RiffModifyINFO(list, RiffFindPIINFO(list, mmioFourCC('I', 'C', 'M', 'T')), 1, 0, RiffNewText("kept"));
    ASSERT_EQ(mmioAscend(f.h(), &ck, 0), 0u);
    ASSERT_EQ(mmioDescend(f.h(), &ck, nullptr, 0), 0u);
    ASSERT_EQ(RiffReadINFO(f.h(), ck, list), 0);
    auto text = [&](const char* id) {
        const char* t = RiffInfoText(list, RiffFindPIINFO(list, mmioStringToFOURCCA(id, 0)));
        return t ? std::string(t) : std::string("<none>");
    };
    EXPECT_EQ(text("INAM"), "two");
    EXPECT_EQ(text("IART"), "<none>");
    EXPECT_EQ(text("ICMT"), "kept");
    RiffFreeINFO(list);
}

// ---- writing ----

TEST(RiffInfo, WritesInTableOrderWithPadding)
{
    ReadList r(infoList(cat(cat(infoEntry("ISFT", std::string("x\0", 2)), infoEntry("IXYZ", std::string("zz\0", 3))),
        infoEntry("INAM", std::string("Hi\0", 3)))));
    ASSERT_EQ(r.rc, 0);
    Bytes want = infoList(cat(infoEntry("INAM", std::string("Hi\0", 3)), infoEntry("ISFT", std::string("x\0", 2))));
    EXPECT_EQ(writeInfo(r.list), want);
    // "INAM", size 3, "Hi", zero, pad.
    Bytes inam = {'I', 'N', 'A', 'M', 3, 0, 0, 0, 'H', 'i', 0, 0};
    EXPECT_EQ(Bytes(want.begin() + 12, want.begin() + 24), inam);
}

TEST(RiffInfo, WriteFailureGivesIOError)
{
    ReadList r(infoList(infoEntry("INAM", std::string(40, 'a') + '\0')));
    ASSERT_EQ(r.rc, 0);
    for (size_t room : {4u, 16u, 30u}) {
        MemoryFile out = MemoryFile::empty(room);
        EXPECT_EQ(RiffWriteINFO(out.h(), r.list), riffErrIO) << room;
    }
}

// ---- changing items ----

struct Step {
    const char* text; // null: no text
    uint16_t flags;
};
struct ModifyCase {
    const char* name;
    const char* id; // INAM has the file text "Song", IART has none
    std::vector<Step> steps;
    std::optional<std::string> program; // the item's Text afterwards
    uint16_t state;
    bool written; // the item is in the written list
};

TEST(RiffInfo, ModifyFollowsTheStateRules)
{
    using std::nullopt;
    const ModifyCase cases[] = {
        {"same text as the file", "INAM", {{"Song", 1}}, nullopt, 0, true},
        {"new text", "INAM", {{"Tune", 1}}, "Tune", 1, true},
        {"clearing a file-only text hides it", "INAM", {{"", 1}}, "", 1, false},
        {"clearing it again changes nothing", "INAM", {{"", 1}, {"", 1}}, "", 1, false},
        {"clearing a program text brings back the file text", "INAM", {{"Tune", 1}, {"", 1}}, nullopt, 2, true},
        {"clearing a second time hides it", "INAM", {{"Tune", 1}, {"", 1}, {"", 1}}, "", 1, false},
        {"program text replaced", "INAM", {{"A", 1}, {"B", 1}}, "B", 1, true},
        {"same program text again", "INAM", {{"A", 1}, {"A", 1}}, "A", 1, true},
        {"setting the file text over a program text", "INAM", {{"A", 1}, {"Song", 1}}, "Song", 1, true},
        {"no text with flag 2 drops the program text", "INAM", {{"A", 1}, {nullptr, 2}}, nullopt, 2, true},
        {"no text with flag 1 keeps it", "INAM", {{"A", 1}, {nullptr, 1}}, "A", 1, true},
        {"no file text: empty text is released", "IART", {{"", 1}}, nullopt, 0, false},
        {"no file text: text kept", "IART", {{"X", 1}}, "X", 1, true},
        {"no file text: cleared", "IART", {{"X", 1}, {"", 1}}, nullopt, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReadList r(infoList(infoEntry("INAM", std::string("Song\0", 5))));
        ASSERT_EQ(r.rc, 0);
        for (const auto& s : c.steps)
            r.Set(c.id, s.text, s.flags);
        TInfoData* item = r.Item(c.id);
        if (c.program) {
            EXPECT_STREQ(item->Text, c.program->c_str());
        } else {
            EXPECT_EQ(item->Text, nullptr);
        }
        EXPECT_EQ(item->State, c.state);
        Bytes out = writeInfo(r.list);
        bool found = std::search(out.begin(), out.end(), c.id, c.id + 4) != out.end();
        EXPECT_EQ(found, c.written);
    }
}

TEST(RiffInfo, ParserFlagStoresTheOffset)
{
    ReadList r(infoList(infoEntry("INAM", std::string("Song\0", 5))));
    TInfoData* item = r.Item("INAM");
    int32_t offset = item->TextOffset;
    RiffModifyINFO(r.list, item, 1, 0, nullptr); // flag 1 keeps the offset
    EXPECT_EQ(item->TextOffset, offset);
    RiffModifyINFO(r.list, item, 0, 0, nullptr);
    EXPECT_EQ(item->TextOffset, 0);
    EXPECT_EQ(r.Current("INAM"), std::nullopt);
}

TEST(RiffInfo, CopyTakesNonEmptyCurrentTexts)
{
    ReadList src(infoList(cat(infoEntry("INAM", std::string("Song\0", 5)), infoEntry("ICMT", std::string("c\0", 2)))));
    src.Set("IART", "Me");
    src.Set("ICMT", ""); // hidden: not copied
    ReadList dst(infoList(infoEntry("ISFT", std::string("tool\0", 5))));
    dst.Set("INAM", "Old");
    dst.Set("ICOP", "Keep");
    ASSERT_EQ(RiffCopyInfo(dst.list, src.list), 0);
    EXPECT_EQ(dst.Current("INAM"), "Song");
    EXPECT_EQ(dst.Item("INAM")->State, 1);
    EXPECT_EQ(dst.Current("IART"), "Me");
    EXPECT_EQ(dst.Current("ICMT"), std::nullopt);
    EXPECT_EQ(dst.Current("ICOP"), "Keep");
    EXPECT_EQ(dst.Current("ISFT"), "tool");
    EXPECT_EQ(writeInfo(dst.list),
        infoList(cat(cat(cat(infoEntry("IART", std::string("Me\0", 3)), infoEntry("ICOP", std::string("Keep\0", 5))),
                         infoEntry("INAM", std::string("Song\0", 5))),
            infoEntry("ISFT", std::string("tool\0", 5)))));
}

TEST(RiffInfo, CreateAndInsertAppend)
{
    TInfoChunk* list = nullptr;
    ASSERT_EQ(RiffInitINFO(list), 0);
    TInfoData* extra = RiffCreateINFO(1, 14, 0, RiffNewText("late"));
    ASSERT_NE(extra, nullptr);
    RiffInsertINFO(list, extra);
    RiffInsertINFO(nullptr, nullptr);
    TInfoData* last = list->Items;
    while (last->Next != nullptr)
        last = last->Next;
    EXPECT_EQ(last, extra);
    // The first "INAM" item is found, not the appended one.
    EXPECT_NE(RiffFindPIINFO(list, mmioFourCC('I', 'N', 'A', 'M')), extra);
    RiffFreeINFO(list);
}

// ---- chunk copiers ----

TEST(RiffCopy, ChunkAndListAreCopiedVerbatim)
{
    Bytes cue;
    PutChunk(cue, "cue ", bytesOf("abcde"));
    Bytes adtl;
    PutChunk(adtl, "LIST", cat(bytesOf("adtl"), infoEntry("labl", "xyz")));
    for (const Bytes& chunk : {cue, adtl}) {
        MemoryFile src(chunk);
        MMCKINFO ck{};
        ASSERT_EQ(mmioDescend(src.h(), &ck, nullptr, 0), 0u);
        MemoryFile dst = MemoryFile::empty(256);
        bool ok = ck.ckid == FOURCC_LIST ? RiffCopyList(src.h(), dst.h(), ck) : RiffCopyChunk(src.h(), dst.h(), ck);
        EXPECT_TRUE(ok);
        EXPECT_EQ(dst.written(), chunk);
    }
}

TEST(RiffCopy, FailuresGiveFalse)
{
    Bytes cue;
    PutChunk(cue, "cue ", bytesOf("abcdef"));
    {
        SCOPED_TRACE("source shorter than the chunk");
        MemoryFile src(cue);
        MMCKINFO ck{};
        ASSERT_EQ(mmioDescend(src.h(), &ck, nullptr, 0), 0u);
        ck.cksize = 100;
        MemoryFile dst = MemoryFile::empty(256);
        EXPECT_FALSE(RiffCopyChunk(src.h(), dst.h(), ck));
    }
    {
        SCOPED_TRACE("destination too small");
        MemoryFile src(cue);
        MMCKINFO ck{};
        ASSERT_EQ(mmioDescend(src.h(), &ck, nullptr, 0), 0u);
        MemoryFile dst = MemoryFile::empty(10);
        EXPECT_FALSE(RiffCopyChunk(src.h(), dst.h(), ck));
    }
    {
        SCOPED_TRACE("list without room for its type");
        MemoryFile src(cue);
        MemoryFile dst = MemoryFile::empty(64);
        MMCKINFO ck{};
        ck.ckid = FOURCC_LIST;
        ck.cksize = 2;
        EXPECT_FALSE(RiffCopyList(src.h(), dst.h(), ck));
        EXPECT_FALSE(RiffCopyChunk(nullptr, dst.h(), ck));
    }
}

// ---- DISP ----

uint8_t* blockOf(const Bytes& b)
{
    auto* p = static_cast<uint8_t*>(GlobalAllocMem(static_cast<int64_t>(b.size())));
    if (!b.empty())
        std::memcpy(p, b.data(), b.size());
    return p;
}
Bytes blockBytes(const uint8_t* p) { return p ? Bytes(p, p + GlobalMemSize(p)) : Bytes(); }
Bytes dispChunk(uint32_t format, const Bytes& data)
{
    Bytes body;
    appendLe32(body, format);
    Bytes b;
    PutChunk(b, "DISP", cat(body, data));
    return b;
}

struct DispList {
    TDispList* list = nullptr;
    DispList() { EXPECT_EQ(RiffInitDISP(list), 0); }
    ~DispList()
    {
        if (list != nullptr)
            RiffFreeDISP(list, true);
    }
    TDisp* Add(uint32_t format, const Bytes* data, uint16_t state = 0)
    {
        TDisp* item = RiffCreateDISP(state, format, data ? blockOf(*data) : nullptr, nullptr);
        RiffInsertDISP(list, item);
        return item;
    }
    std::vector<TDisp*> Items() const
    {
        std::vector<TDisp*> v;
        for (TDisp* it = list->Items; it != nullptr; it = it->Next)
            v.push_back(it);
        return v;
    }
    int32_t ReadFrom(const Bytes& file)
    {
        MemoryFile f(file);
        MMCKINFO ck{};
        EXPECT_EQ(mmioDescend(f.h(), &ck, nullptr, 0), 0u);
        return RiffReadDISP(f.h(), ck, list);
    }
    Bytes Write(int32_t want = 0) const
    {
        MemoryFile out = MemoryFile::empty(4096);
        EXPECT_EQ(RiffWriteDISP(out.h(), list), want);
        return out.written();
    }
};

TEST(RiffDisp, ReadKeepsBodiesLongerThanFourBytes)
{
    struct Case {
        const char* name;
        Bytes body;
        bool kept;
    };
    const Case cases[] = {
        {"empty body", {}, false},
        {"two bytes", {1, 0}, false},
        {"format only", {1, 0, 0, 0}, false},
        {"text", {1, 0, 0, 0, 'a', 'b', 0}, true},
        {"format 2", {2, 0, 0, 0, 'x'}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DispList d;
        Bytes file;
        PutChunk(file, "DISP", c.body);
        ASSERT_EQ(d.ReadFrom(file), 0);
        auto items = d.Items();
        ASSERT_EQ(items.size(), c.kept ? 1u : 0u);
        if (c.kept) {
            EXPECT_EQ(items[0]->ClipFormat, readLe32(c.body, 0));
            EXPECT_EQ(blockBytes(items[0]->Data), Bytes(c.body.begin() + 4, c.body.end()));
            EXPECT_EQ(items[0]->State, 0);
            EXPECT_EQ(items[0]->NewData, nullptr);
        }
    }
}

TEST(RiffDisp, ReadFailures)
{
    Bytes file = dispChunk(1, {'a', 'b', 0});
    DispList d;
    for (uint32_t size : {9u, 100u, 0xFFFFFFFFu}) {
        MemoryFile f(file);
        MMCKINFO ck{};
        ASSERT_EQ(mmioDescend(f.h(), &ck, nullptr, 0), 0u);
        ck.cksize = size;
        EXPECT_EQ(RiffReadDISP(f.h(), ck, d.list), riffErrIO) << size;
    }
    EXPECT_TRUE(d.Items().empty());
    TDispList* none = nullptr;
    MemoryFile f(file);
    MMCKINFO ck{};
    ck.cksize = 7;
    EXPECT_EQ(RiffReadDISP(f.h(), ck, none), riffErrBadParam);
    EXPECT_EQ(RiffReadDISP(nullptr, ck, d.list), riffErrBadParam);
    EXPECT_EQ(RiffWriteDISP(nullptr, d.list), riffErrBadParam);
    EXPECT_EQ(RiffWriteDISP(f.h(), nullptr), riffErrBadParam);
}

Bytes dibBytes(uint32_t biSize, uint32_t biSizeImage, uint32_t biClrUsed, size_t total)
{
    Bytes b(total, 0x11);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(0, biSize);
    put(20, biSizeImage);
    put(32, biClrUsed);
    return b;
}

TEST(RiffDisp, WritesTextAndBitmapsOnly)
{
    struct Case {
        const char* name;
        uint32_t format;
        Bytes data;
        Bytes written;
    };
    Bytes dib = dibBytes(40, 8, 2, 60);
    Bytes huge = dibBytes(40, 0xFFFFFFFFu, 0xFFFFFFFFu, 48);
    const Case cases[] = {
        {"text ab", 1, {'a', 'b', 0}, {'D', 'I', 'S', 'P', 7, 0, 0, 0, 1, 0, 0, 0, 'a', 'b', 0, 0}},
        {"text without zero is terminated", 1, {'a', 'b'}, dispChunk(1, {'a', 'b', 0})},
        {"text stops at its zero", 1, {'a', 'b', 0, 'z', 'z'}, dispChunk(1, {'a', 'b', 0})},
        {"bitmap by its header", 8, dib, dispChunk(8, Bytes(dib.begin(), dib.begin() + 56))},
        {"bitmap header larger than the block", 8, huge, dispChunk(8, huge)},
        {"bitmap shorter than its header", 8, {1, 2, 3}, dispChunk(8, {1, 2, 3})},
        {"format 2 never written", 2, {'x', 'y'}, {}},
        {"format 0 never written", 0, {'x'}, {}},
        {"empty data not written", 1, {0, 'a'}, {}},
        {"zero-length block not written", 1, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DispList d;
        d.Add(c.format, &c.data);
        EXPECT_EQ(d.Write(), c.written);
    }
}

TEST(RiffDisp, WriteFailureGivesIOError)
{
    DispList d;
    Bytes text(50, 'a');
    d.Add(1, &text);
    for (size_t room : {4u, 10u, 40u}) {
        MemoryFile out = MemoryFile::empty(room);
        EXPECT_EQ(RiffWriteDISP(out.h(), d.list), riffErrIO) << room;
    }
}

TEST(RiffDisp, ReadCopyWriteDropsOtherFormats)
{
    DispList src;
    ASSERT_EQ(src.ReadFrom(dispChunk(2, {'q', 'r'})), 0);
    ASSERT_EQ(src.ReadFrom(dispChunk(1, {'a', 'b', 0})), 0);
    DispList dst;
    Bytes old = {'o', 0};
    dst.Add(1, &old);
    ASSERT_EQ(RiffCopyDISP(dst.list, src.list), 0);
    auto items = dst.Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->ClipFormat, 2u);
    EXPECT_EQ(blockBytes(items[0]->NewData), (Bytes{'q', 'r'}));
    EXPECT_EQ(items[1]->ClipFormat, 1u);
    for (TDisp* it : items) {
        EXPECT_EQ(it->State, 0);
        EXPECT_EQ(it->Data, nullptr);
    }
    EXPECT_EQ(dst.Write(), dispChunk(1, {'a', 'b', 0}));
}

TEST(RiffDisp, CopySkipsItemsWithoutCurrentData)
{
    DispList src;
    Bytes a = {'a', 0}, x = {'x'}, bmp = dibBytes(40, 0, 0, 40), empty = {0};
    src.Add(0, &x);
    src.Add(8, &bmp, 1); // State 1 without NewData: no current data
    src.Add(1, &empty);
    src.Add(1, &a);
    ASSERT_EQ(RiffCopyDISP(src.list, src.list), 0);
    EXPECT_EQ(src.Items().size(), 4u);
    DispList dst;
    ASSERT_EQ(RiffCopyDISP(dst.list, src.list), 0);
    auto items = dst.Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(blockBytes(items[0]->NewData), a);
    EXPECT_EQ(RiffCopyDISP(nullptr, src.list), riffErrBadParam);
    EXPECT_EQ(RiffCopyDISP(dst.list, nullptr), riffErrBadParam);
}

TEST(RiffDisp, ModifyFollowsTheStateRules)
{
    struct DStep {
        std::optional<Bytes> data;
        uint16_t state;
    };
    struct Case {
        const char* name;
        std::optional<Bytes> fileData;
        std::vector<DStep> steps;
        std::optional<Bytes> newData;
        uint16_t state;
        std::optional<Bytes> current; // the current data, when it is not none
    };
    using std::nullopt;
    const Bytes ab = {'a', 'b'}, cd = {'c', 'd'}, z = {0}, zz = {0, 0};
    const Case cases[] = {
        {"same as the file data", ab, {{ab, 1}}, nullopt, 0, ab},
        {"new data", ab, {{cd, 1}}, cd, 1, cd},
        {"empty data hides the file data", ab, {{z, 1}}, z, 1, nullopt},
        {"clearing new data brings back the file data", ab, {{cd, 1}, {z, 1}}, nullopt, 2, ab},
        {"no data drops new data", ab, {{cd, 1}, {nullopt, 1}}, nullopt, 2, ab},
        {"same new data again", ab, {{cd, 1}, {cd, 1}}, cd, 1, cd},
        {"no data with state 1 hides the file data", ab, {{nullopt, 1}}, nullopt, 1, nullopt},
        {"no file data: empty released", nullopt, {{z, 1}}, nullopt, 0, nullopt},
        {"no file data: data kept", nullopt, {{ab, 1}}, ab, 1, ab},
        {"both empty: released", z, {{zz, 1}}, nullopt, 0, nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DispList d;
        TDisp* item = d.Add(1, c.fileData ? &*c.fileData : nullptr);
        for (const auto& s : c.steps)
            RiffModifyDISP(d.list, item, s.state, s.data ? blockOf(*s.data) : nullptr);
        EXPECT_EQ(item->NewData != nullptr, c.newData.has_value());
        if (c.newData) {
            EXPECT_EQ(blockBytes(item->NewData), *c.newData);
        }
        EXPECT_EQ(item->State, c.state);
        const uint8_t* cur = RiffDispData(item);
        bool none = cur == nullptr || GlobalMemSize(cur) == 0 || cur[0] == 0;
        EXPECT_EQ(!none, c.current.has_value());
        if (c.current && !none) {
            EXPECT_EQ(blockBytes(cur), *c.current);
        }
    }
    RiffModifyDISP(nullptr, nullptr, 1, blockOf(ab)); // released, not leaked
}

TEST(RiffDisp, FreeCodes)
{
    TDispList* list = nullptr;
    EXPECT_EQ(RiffFreeDISP(list, true), riffErrBadParam);
    ASSERT_EQ(RiffInitDISP(list), 0);
    Bytes a = {'a'};
    RiffInsertDISP(list, RiffCreateDISP(0, 1, blockOf(a), blockOf(a)));
    EXPECT_EQ(RiffFreeDISP(list, false), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Items, nullptr);
    EXPECT_EQ(RiffFreeDISP(list, true), 0);
    EXPECT_EQ(list, nullptr);
}

} // namespace
} // namespace orvelle
