#include "Mmriff.h"

#include <cstring>
#include <new>

#include "util/LittleEndian.h"
#include "util/Mmutils.h"

namespace orvelle {

const TInfoEntry aINFO[kInfoCount] = {
    {"IARL", "Archival Location", "Where the subject of the file is archived."},
    {"IART", "Artist", "The original artist of the subject of the file."},
    {"ICMS", "Commissioned", "The person or organisation that commissioned the subject."},
    {"ICMT", "Comments", "General comments about the file or its subject."},
    {"ICOP", "Copyright", "The copyright information for the file."},
    {"ICRD", "Creation date", "The date the subject of the file was created."},
    {"ICRP", "Cropped", "Whether and how the subject of the file has been cropped."},
    {"IDIM", "Dimensions", "The size of the original subject of the file."},
    {"IDPI", "Dots Per Inch", "The dots per inch at which the subject was digitised."},
    {"IENG", "Engineer", "The engineer who worked on the file."},
    {"IGNR", "Genre", "The genre of the subject."},
    {"IKEY", "Keywords", "Keywords that refer to the file or its subject."},
    {"ILGT", "Lightness", "The lightness setting used when the subject was digitised."},
    {"IMED", "Medium", "The medium of the original subject."},
    {"INAM", "Name", "The title of the subject of the file."},
    {"IPLT", "Palette Setting", "The number of colours asked for when the subject was digitised."},
    {"IPRD", "Product", "The product the file was made for."},
    {"ISBJ", "Subject", "A description of the contents of the file."},
    {"ISFT", "Software", "The software package used to make the file."},
    {"ISHP", "Sharpness", "The sharpness setting used when the subject was digitised."},
    {"ISRC", "Source", "The person or organisation that supplied the subject."},
    {"ISRF", "Source Form", "The form of the original material that was digitised."},
    {"ITCH", "Technician", "The technician who digitised the subject."},
};

namespace {

constexpr uint32_t kDispFormatText = 1;
constexpr uint32_t kDispFormatDib = 8;
constexpr int64_t kDibHeaderEnd = 36; // the bitmap header fields read end at offset 36
constexpr int64_t kCopyStep = 65536;

// A zero-filled record from global memory; raises std::bad_alloc.
template <typename T> T* newRecord() { return new (GlobalAllocMem(sizeof(T))) T{}; }

// The same, null when there is no memory.
template <typename T> T* tryNewRecord()
{
    try {
        return newRecord<T>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Appends `item` (and whatever hangs on it) at the end of a chain linked through Next,
// in constant time through the chain's last item.
template <typename T> void appendToChain(T*& head, T*& last, T* item)
{
    if (head == nullptr)
        head = item;
    else
        last->Next = item;
    last = item;
    while (last->Next != nullptr)
        last = last->Next;
}

// Bytes from the current position to the end of the file; -1 when the seeks fail.
int64_t bytesLeft(HMMIO h)
{
    int32_t pos = mmioSeek(h, 0, 1);
    if (pos < 0)
        return -1;
    int32_t end = mmioSeek(h, 0, 2);
    if (mmioSeek(h, pos, 0) != pos || end < 0)
        return -1;
    return static_cast<int64_t>(end) - pos;
}

// Reads exactly `count` bytes (count must fit the service's 32-bit counts).
bool readAll(HMMIO h, void* dest, int64_t count)
{
    if (count < 0 || count > INT32_MAX)
        return false;
    return mmioRead(h, static_cast<char*>(dest), static_cast<int32_t>(count)) == count;
}

bool writeAll(HMMIO h, const void* src, int64_t count)
{
    if (count < 0 || count > INT32_MAX)
        return false;
    return mmioWrite(h, static_cast<const char*>(src), static_cast<int32_t>(count)) == count;
}

// Length of the text in `p`, looking at no more than `room` bytes.
int64_t textLength(const char* p, int64_t room)
{
    return room <= 0 ? 0 : static_cast<int64_t>(strnlen(p, static_cast<size_t>(room)));
}

// Texts compared up to their zeros, each read no further than its room.
bool sameText(const char* a, int64_t roomA, const char* b, int64_t roomB)
{
    int64_t la = textLength(a, roomA);
    return la == textLength(b, roomB) && std::memcmp(a, b, static_cast<size_t>(la)) == 0;
}

// The file's text of an item, or null.
const char* fileText(const TInfoChunk* list, const TInfoData* item)
{
    if (list == nullptr || list->RawText == nullptr || item->TextOffset <= 0 ||
        item->TextOffset >= GlobalMemSize(list->RawText))
        return nullptr;
    return list->RawText + item->TextOffset;
}

// Room from `text` to the end of the block that holds it.
int64_t textRoom(const TInfoChunk* list, const TInfoData* item, const char* text)
{
    if (text == item->Text)
        return GlobalMemSize(text);
    return GlobalMemSize(list->RawText) - item->TextOffset;
}

// Copies `count` bytes from hSrc to hDst through a bounded scratch block.
bool copyBytes(HMMIO hSrc, HMMIO hDst, int64_t count)
{
    uint8_t* scratch = nullptr;
    bool ok = true;
    try {
        scratch = static_cast<uint8_t*>(GlobalAllocMem(count < kCopyStep ? count : kCopyStep));
        while (ok && count > 0) {
            int64_t step = count < kCopyStep ? count : kCopyStep;
            ok = readAll(hSrc, scratch, step) && writeAll(hDst, scratch, step);
            count -= step;
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    GlobalFreeMem(scratch);
    return ok;
}

// Makes the new chunk, copies `count` bytes into it and leaves it. The chunk is left
// (its size fixed to what was copied) even when the copy fails, so that hDst stays a
// well-formed file.
bool copyInto(HMMIO hSrc, HMMIO hDst, MMCKINFO& nck, uint32_t flags, int64_t count)
{
    if (hSrc == nullptr || hDst == nullptr || count < 0 || count > INT32_MAX)
        return false;
    if (mmioCreateChunk(hDst, &nck, flags) != 0)
        return false;
    bool ok = copyBytes(hSrc, hDst, count);
    return mmioAscend(hDst, &nck, 0) == 0 && ok;
}

bool isEmptyBlock(const uint8_t* p) { return GlobalMemSize(p) < 1 || p[0] == 0; }

bool sameBlock(const uint8_t* a, const uint8_t* b)
{
    int64_t n = GlobalMemSize(a);
    return n == GlobalMemSize(b) && std::memcmp(a, b, static_cast<size_t>(n)) == 0;
}

uint8_t* copyBlock(const uint8_t* p)
{
    int64_t n = GlobalMemSize(p);
    auto* copy = static_cast<uint8_t*>(GlobalAllocMem(n));
    std::memcpy(copy, p, static_cast<size_t>(n));
    return copy;
}

void freeDispItems(TDispList* list)
{
    while (list->Items != nullptr) {
        TDisp* item = list->Items;
        list->Items = item->Next;
        GlobalFreeMem(item->Data);
        GlobalFreeMem(item->NewData);
        GlobalFreeMem(item);
    }
    list->Last = nullptr;
}

// Bytes of a DISP item's data that go to the file.
int64_t dispWriteLength(uint32_t format, const uint8_t* data)
{
    int64_t size = GlobalMemSize(data);
    if (format == kDispFormatText)
        return textLength(reinterpret_cast<const char*>(data), size);
    // A block too short to hold the bitmap header is written as it stands.
    if (size < kDibHeaderEnd)
        return size;
    int64_t n =
        static_cast<int64_t>(loadLe32(data)) + loadLe32(data + 20) + 4 * static_cast<int64_t>(loadLe32(data + 32));
    return n < size ? n : size; // never past the block
}

bool writeDispItem(HMMIO h, const TDisp* item, const uint8_t* data)
{
    MMCKINFO ck{};
    ck.ckid = mmioFourCC('D', 'I', 'S', 'P');
    if (mmioCreateChunk(h, &ck, 0) != 0 || !writeAll(h, &item->ClipFormat, 4))
        return false;
    int64_t n = dispWriteLength(item->ClipFormat, data);
    if (!writeAll(h, data, n))
        return false;
    // A text always ends with its zero, also when the block lacks one.
    if (item->ClipFormat == kDispFormatText && !writeAll(h, "", 1))
        return false;
    return mmioAscend(h, &ck, 0) == 0;
}

} // namespace

bool RiffCopyChunk(HMMIO hSrc, HMMIO hDst, const MMCKINFO& ck)
{
    MMCKINFO nck{};
    nck.ckid = ck.ckid;
    nck.cksize = ck.cksize;
    return copyInto(hSrc, hDst, nck, 0, ck.cksize);
}

bool RiffCopyList(HMMIO hSrc, HMMIO hDst, const MMCKINFO& ck)
{
    // A list too short to hold its type is malformed: nothing is copied.
    if (ck.cksize < 4)
        return false;
    MMCKINFO nck{};
    nck.ckid = FOURCC_LIST;
    nck.cksize = ck.cksize;
    nck.fccType = ck.fccType;
    return copyInto(hSrc, hDst, nck, MMIO_CREATELIST, static_cast<int64_t>(ck.cksize) - 4);
}

// ---- INFO ----

int32_t RiffInitINFO(TInfoChunk*& list)
{
    list = tryNewRecord<TInfoChunk>();
    if (list == nullptr)
        return riffErrNoMem;
    for (uint16_t i = 0; i < kInfoCount; ++i)
        RiffInsertINFO(list, RiffCreateINFO(riffStateAsRead, i, 0, nullptr));
    return 0;
}

int32_t RiffReadINFO(HMMIO h, const MMCKINFO& ck, TInfoChunk* list)
{
    if (h == nullptr || list == nullptr)
        return riffErrBadParam;
    int64_t n = static_cast<int64_t>(ck.cksize) - 4;
    if (n <= 0)
        return 0;
    // Never allocate for more bytes than the file still holds.
    int64_t left = bytesLeft(h);
    if (left < 0 || n > left || n > INT32_MAX - 1)
        return riffErrIO;
    char* raw = nullptr;
    try {
        raw = static_cast<char*>(GlobalAllocMem(n + 1)); // spare zero after the body
    } catch (const std::bad_alloc&) {
        return riffErrNoMem;
    }
    if (!readAll(h, raw, n)) {
        GlobalFreeMem(raw);
        return riffErrIO;
    }
    // A later INFO list replaces an earlier one: texts only the earlier list carried
    // are lost (the parser resets every file text), program texts stay.
    GlobalFreeMem(list->RawText);
    list->RawText = raw;
    list->RawSize = static_cast<int32_t>(n);
    return RiffParseINFO(list);
}

namespace {

// One entry of an INFO list body: its id, its text's offset and the bytes the text may
// take (cut at the end of the body), and where the next entry begins.
struct InfoEntry {
    uint32_t id = 0;
    int64_t start = 0;
    int64_t avail = 0;
    bool evenSize = false;
    int64_t next = 0;
};

// The entry at `p` of the first `size` bytes of `raw`; false when no whole header is left.
bool infoEntryAt(const char* raw, int64_t size, int64_t p, InfoEntry& e)
{
    if (p + 8 > size)
        return false;
    const auto* header = reinterpret_cast<const uint8_t*>(raw + p);
    const uint32_t s = loadLe32(header + 4);
    e.id = loadLe32(header);
    e.start = p + 8;
    e.avail = size - e.start < s ? size - e.start : s;
    e.evenSize = s % 2 == 0;
    e.next = e.start + s + (s % 2);
    return true;
}

// A text that fills its entry with no zero, where the byte after it belongs to the next
// entry: its zero has no room in place.
bool needsCopy(const char* raw, int64_t size, const InfoEntry& e)
{
    return e.avail > 0 && e.start + e.avail < size && e.evenSize && textLength(raw + e.start, e.avail) == e.avail;
}

} // namespace

int32_t RiffParseINFO(TInfoChunk* list)
{
    if (list == nullptr)
        return riffErrBadParam;
    for (TInfoData* item = list->Items; item != nullptr; item = item->Next)
        item->TextOffset = 0;
    // The block holds the body and a spare zero; stay inside it whatever RawSize says.
    int64_t size = GlobalMemSize(list->RawText) - 1;
    if (list->RawSize < size)
        size = list->RawSize;
    // A text ends at its first zero or at the end of its entry. Texts whose zero has no
    // room in place are copied, each with its zero, behind the body.
    int64_t copies = 0;
    InfoEntry e;
    for (int64_t p = 0; infoEntryAt(list->RawText, size, p, e); p = e.next)
        copies += needsCopy(list->RawText, size, e) ? e.avail + 1 : 0;
    if (copies > 0) {
        if (size + 1 + copies > INT32_MAX)
            return riffErrNoMem; // the offsets are 32-bit
        char* grown = nullptr;
        try {
            grown = static_cast<char*>(GlobalAllocMem(size + 1 + copies));
        } catch (const std::bad_alloc&) {
            return riffErrNoMem;
        }
        std::memcpy(grown, list->RawText, static_cast<size_t>(size));
        GlobalFreeMem(list->RawText);
        list->RawText = grown;
    }
    char* raw = list->RawText;
    int64_t tail = size + 1;
    for (int64_t p = 0; infoEntryAt(raw, size, p, e); p = e.next) {
        int64_t offset = e.start;
        if (needsCopy(raw, size, e)) {
            std::memcpy(raw + tail, raw + e.start, static_cast<size_t>(e.avail)); // its zero is already there
            offset = tail;
            tail += e.avail + 1;
        } else if (e.avail > 0 && textLength(raw + e.start, e.avail) == e.avail) {
            raw[e.start + e.avail] = 0; // the pad byte, or the spare zero at the end of the body
        }
        TInfoData* item = RiffFindPIINFO(list, e.id);
        if (item != nullptr) // an entry of size 0 carries no text
            RiffModifyINFO(list, item, 0, e.avail > 0 ? static_cast<int32_t>(offset) : 0, nullptr);
    }
    return 0;
}

int32_t RiffWriteINFO(HMMIO h, TInfoChunk* list)
{
    if (h == nullptr || list == nullptr)
        return riffErrBadParam;
    MMCKINFO lck{};
    bool open = false;
    for (TInfoData* item = list->Items; item != nullptr; item = item->Next) {
        const char* text = RiffInfoText(list, item);
        if (text == nullptr || text[0] == 0 || item->Index >= kInfoCount)
            continue;
        if (!open) {
            lck.ckid = FOURCC_LIST;
            lck.fccType = mmioFourCC('I', 'N', 'F', 'O');
            if (mmioCreateChunk(h, &lck, MMIO_CREATELIST) != 0)
                return riffErrIO;
            open = true;
        }
        int64_t n = textLength(text, textRoom(list, item, text)) + 1;
        if (n > INT32_MAX)
            return riffErrIO;
        MMCKINFO ck{};
        ck.ckid = mmioStringToFOURCCA(aINFO[item->Index].id, 0);
        ck.cksize = static_cast<uint32_t>(n);
        if (mmioCreateChunk(h, &ck, 0) != 0 || !writeAll(h, text, n - 1) || !writeAll(h, "", 1) ||
            mmioAscend(h, &ck, 0) != 0)
            return riffErrIO;
    }
    if (open && mmioAscend(h, &lck, 0) != 0)
        return riffErrIO;
    return 0;
}

int32_t RiffCopyInfo(TInfoChunk*& dst, TInfoChunk* src)
{
    if (dst == nullptr || src == nullptr)
        return riffErrBadParam;
    for (TInfoData* item = src->Items; item != nullptr; item = item->Next) {
        const char* text = RiffInfoText(src, item);
        if (text == nullptr || text[0] == 0 || item->Index >= kInfoCount)
            continue;
        char* copy = nullptr;
        try {
            int64_t n = textLength(text, textRoom(src, item, text));
            copy = static_cast<char*>(GlobalAllocMem(n + 1));
            std::memcpy(copy, text, static_cast<size_t>(n));
        } catch (const std::bad_alloc&) {
            return riffErrNoMem;
        }
        TInfoData* target = RiffFindPIINFO(dst, mmioStringToFOURCCA(aINFO[item->Index].id, 0));
        RiffModifyINFO(dst, target, riffStateSet, 0, copy);
    }
    return 0;
}

TInfoData* RiffCreateINFO(uint16_t state, uint16_t index, int32_t offset, char* text)
{
    TInfoData* item = tryNewRecord<TInfoData>();
    if (item != nullptr)
        *item = TInfoData{index, state, offset, text, nullptr};
    return item;
}

void RiffInsertINFO(TInfoChunk* list, TInfoData* item)
{
    if (list != nullptr && item != nullptr)
        appendToChain(list->Items, list->Last, item);
}

TInfoData* RiffFindPIINFO(TInfoChunk* list, FOURCC fcc)
{
    if (list == nullptr)
        return nullptr;
    for (TInfoData* item = list->Items; item != nullptr; item = item->Next)
        if (item->Index < kInfoCount && mmioStringToFOURCCA(aINFO[item->Index].id, 0) == fcc)
            return item;
    return nullptr;
}

int32_t RiffFindaINFO(FOURCC fcc)
{
    for (int32_t i = 0; i < kInfoCount; ++i)
        if (mmioStringToFOURCCA(aINFO[i].id, 0) == fcc)
            return i;
    return -1;
}

void RiffModifyINFO(TInfoChunk* list, TInfoData* item, uint16_t flags, int32_t offset, char* text)
{
    if (item == nullptr) {
        GlobalFreeMem(text); // handed over: nobody else will release it
        return;
    }
    if ((flags & 3) == 0)
        item->TextOffset = offset;
    if (text != nullptr && text == item->Text)
        return; // the item's own text handed back
    if (item->Text != nullptr) {
        if (text == nullptr) {
            if (flags & 2) {
                GlobalFreeMem(item->Text);
                item->State = flags;
            }
        } else if (sameText(text, GlobalMemSize(text), item->Text, GlobalMemSize(item->Text))) {
            GlobalFreeMem(text);
        } else {
            GlobalFreeMem(item->Text);
            if (text[0] != 0) {
                item->Text = text;
                item->State = flags;
            } else {
                GlobalFreeMem(text);
                item->State = riffStateDropped; // the file text, if any, is current again
            }
        }
        return;
    }
    if (text == nullptr)
        return;
    const char* inFile = fileText(list, item);
    if (inFile == nullptr) {
        if (text[0] != 0) {
            item->Text = text;
            item->State = flags;
        } else {
            GlobalFreeMem(text);
        }
    } else if (sameText(text, GlobalMemSize(text), inFile, textRoom(list, item, inFile))) {
        GlobalFreeMem(text);
    } else {
        item->Text = text; // an empty text hides the file text
        item->State = flags;
    }
}

int32_t RiffFreeINFO(TInfoChunk*& list)
{
    if (list == nullptr)
        return riffErrBadParam;
    while (list->Items != nullptr) {
        TInfoData* item = list->Items;
        list->Items = item->Next;
        GlobalFreeMem(item->Text);
        GlobalFreeMem(item);
    }
    GlobalFreeMem(list->RawText);
    GlobalFreeMem(list);
    return 0;
}

const char* RiffInfoText(const TInfoChunk* list, const TInfoData* item)
{
    if (item == nullptr)
        return nullptr;
    if (item->Text != nullptr)
        return item->Text;
    return fileText(list, item);
}

char* RiffNewText(const char* text)
{
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(GlobalAllocMem(static_cast<int64_t>(n) + 1));
    std::memcpy(copy, text, n);
    return copy;
}

// ---- DISP ----

int32_t RiffInitDISP(TDispList*& list)
{
    list = tryNewRecord<TDispList>();
    return list != nullptr ? 0 : riffErrNoMem;
}

int32_t RiffReadDISP(HMMIO h, const MMCKINFO& ck, TDispList*& list)
{
    if (h == nullptr || list == nullptr)
        return riffErrBadParam;
    int64_t n = static_cast<int64_t>(ck.cksize) - 4;
    if (n <= 0)
        return 0;
    // The clipboard format and the data must both be in the file before a block is made.
    int64_t left = bytesLeft(h);
    if (left < 0 || n + 4 > left || n > INT32_MAX)
        return riffErrIO;
    TDisp* item = nullptr;
    try {
        item = newRecord<TDisp>();
        item->Data = static_cast<uint8_t*>(GlobalAllocMem(n));
    } catch (const std::bad_alloc&) {
        GlobalFreeMem(item);
        return riffErrNoMem;
    }
    if (!readAll(h, &item->ClipFormat, 4) || !readAll(h, item->Data, n)) {
        GlobalFreeMem(item->Data);
        GlobalFreeMem(item);
        return riffErrIO;
    }
    RiffInsertDISP(list, item);
    return 0;
}

int32_t RiffWriteDISP(HMMIO h, TDispList* list)
{
    if (h == nullptr || list == nullptr)
        return riffErrBadParam;
    for (TDisp* item = list->Items; item != nullptr; item = item->Next) {
        if (item->ClipFormat != kDispFormatText && item->ClipFormat != kDispFormatDib)
            continue;
        const uint8_t* data = RiffDispData(item);
        if (data == nullptr || isEmptyBlock(data))
            continue;
        if (!writeDispItem(h, item, data))
            return riffErrIO;
    }
    return 0;
}

int32_t RiffCopyDISP(TDispList* dst, TDispList* src)
{
    if (dst == nullptr || src == nullptr)
        return riffErrBadParam;
    if (dst == src)
        return 0; // emptying dst first would lose the items to copy
    freeDispItems(dst);
    for (TDisp* item = src->Items; item != nullptr; item = item->Next) {
        const uint8_t* data = RiffDispData(item);
        if (item->ClipFormat == 0 || data == nullptr || isEmptyBlock(data))
            continue;
        uint8_t* copy = nullptr;
        try {
            copy = copyBlock(data);
        } catch (const std::bad_alloc&) {
            return riffErrNoMem;
        }
        TDisp* added = RiffCreateDISP(riffStateAsRead, item->ClipFormat, nullptr, copy);
        if (added == nullptr) {
            GlobalFreeMem(copy);
            return riffErrNoMem;
        }
        RiffInsertDISP(dst, added);
    }
    return 0;
}

TDisp* RiffCreateDISP(uint16_t state, uint32_t clipFormat, uint8_t* data, uint8_t* newData)
{
    TDisp* item = tryNewRecord<TDisp>();
    if (item != nullptr)
        *item = TDisp{clipFormat, state, data, newData, nullptr};
    return item;
}

void RiffInsertDISP(TDispList* list, TDisp* item)
{
    if (list != nullptr && item != nullptr)
        appendToChain(list->Items, list->Last, item);
}

void RiffModifyDISP(TDispList* /*list*/, TDisp* item, uint16_t state, uint8_t* data)
{
    if (item == nullptr) {
        GlobalFreeMem(data); // handed over: nobody else will release it
        return;
    }
    if (data != nullptr && (data == item->NewData || data == item->Data))
        return; // the item's own block handed back
    if (item->NewData != nullptr) {
        if (data != nullptr && sameBlock(data, item->NewData)) {
            GlobalFreeMem(data);
            return;
        }
        GlobalFreeMem(item->NewData);
        if (data != nullptr && !isEmptyBlock(data)) {
            item->NewData = data;
            item->State = state;
        } else {
            GlobalFreeMem(data);
            item->State = riffStateDropped;
        }
        return;
    }
    if (data == nullptr) {
        item->State = state;
    } else if (item->Data != nullptr && sameBlock(data, item->Data)) {
        GlobalFreeMem(data);
    } else if (!isEmptyBlock(data) || (item->Data != nullptr && !isEmptyBlock(item->Data))) {
        item->NewData = data; // an empty block hides a non-empty file block
        item->State = state;
    } else {
        GlobalFreeMem(data);
    }
}

int32_t RiffFreeDISP(TDispList*& list, bool freeList)
{
    if (list == nullptr)
        return riffErrBadParam;
    freeDispItems(list);
    if (freeList)
        GlobalFreeMem(list);
    return 0;
}

const uint8_t* RiffDispData(const TDisp* item)
{
    if (item == nullptr)
        return nullptr;
    if (item->NewData != nullptr)
        return item->NewData;
    return item->State == riffStateSet ? nullptr : item->Data;
}

} // namespace orvelle
