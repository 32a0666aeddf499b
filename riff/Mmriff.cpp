#include "Mmriff.h"

#include <cstring>
#include <new>

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
template <typename T> T* NewRecord() { return new (GlobalAllocMem(sizeof(T))) T{}; }

// The same, null when there is no memory.
template <typename T> T* TryNewRecord()
{
    try {
        return NewRecord<T>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Appends `item` at the end of a chain linked through Next.
template <typename T> void AppendToChain(T*& head, T* item)
{
    T** link = &head;
    while (*link != nullptr)
        link = &(*link)->Next;
    *link = item;
}

uint32_t GetLE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Bytes from the current position to the end of the file; -1 when the seeks fail.
int64_t BytesLeft(HMMIO h)
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
bool ReadAll(HMMIO h, void* dest, int64_t count)
{
    if (count < 0 || count > INT32_MAX)
        return false;
    return mmioRead(h, static_cast<char*>(dest), static_cast<int32_t>(count)) == count;
}

bool WriteAll(HMMIO h, const void* src, int64_t count)
{
    if (count < 0 || count > INT32_MAX)
        return false;
    return mmioWrite(h, static_cast<const char*>(src), static_cast<int32_t>(count)) == count;
}

// Length of the text in `p`, looking at no more than `room` bytes.
int64_t TextLength(const char* p, int64_t room)
{
    return room <= 0 ? 0 : static_cast<int64_t>(strnlen(p, static_cast<size_t>(room)));
}

// Texts compared up to their zeros, each read no further than its room.
bool SameText(const char* a, int64_t roomA, const char* b, int64_t roomB)
{
    int64_t la = TextLength(a, roomA);
    return la == TextLength(b, roomB) && std::memcmp(a, b, static_cast<size_t>(la)) == 0;
}

// The file's text of an item, or null.
const char* FileText(const TInfoChunk* list, const TInfoData* item)
{
    if (list == nullptr || list->RawText == nullptr || item->TextOffset <= 0 || item->TextOffset > list->RawSize ||
        item->TextOffset >= GlobalMemSize(list->RawText))
        return nullptr;
    return list->RawText + item->TextOffset;
}

// Room from `text` to the end of the block that holds it.
int64_t TextRoom(const TInfoChunk* list, const TInfoData* item, const char* text)
{
    if (text == item->Text)
        return GlobalMemSize(text);
    return GlobalMemSize(list->RawText) - item->TextOffset;
}

// Copies `count` bytes from hSrc to hDst through a bounded scratch block.
bool CopyBytes(HMMIO hSrc, HMMIO hDst, int64_t count)
{
    uint8_t* scratch = nullptr;
    bool ok = true;
    try {
        scratch = static_cast<uint8_t*>(GlobalAllocMem(count < kCopyStep ? count : kCopyStep));
        while (ok && count > 0) {
            int64_t step = count < kCopyStep ? count : kCopyStep;
            ok = ReadAll(hSrc, scratch, step) && WriteAll(hDst, scratch, step);
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
bool CopyInto(HMMIO hSrc, HMMIO hDst, MMCKINFO& nck, uint32_t flags, int64_t count)
{
    if (hSrc == nullptr || hDst == nullptr || count < 0 || count > INT32_MAX)
        return false;
    if (mmioCreateChunk(hDst, &nck, flags) != 0)
        return false;
    bool ok = CopyBytes(hSrc, hDst, count);
    return mmioAscend(hDst, &nck, 0) == 0 && ok;
}

bool IsEmptyBlock(const uint8_t* p) { return GlobalMemSize(p) < 1 || p[0] == 0; }

bool SameBlock(const uint8_t* a, const uint8_t* b)
{
    int64_t n = GlobalMemSize(a);
    return n == GlobalMemSize(b) && std::memcmp(a, b, static_cast<size_t>(n)) == 0;
}

uint8_t* CopyBlock(const uint8_t* p)
{
    int64_t n = GlobalMemSize(p);
    auto* copy = static_cast<uint8_t*>(GlobalAllocMem(n));
    std::memcpy(copy, p, static_cast<size_t>(n));
    return copy;
}

void FreeDispItems(TDispList* list)
{
    while (list->Items != nullptr) {
        TDisp* item = list->Items;
        list->Items = item->Next;
        GlobalFreeMem(item->Data);
        GlobalFreeMem(item->NewData);
        GlobalFreeMem(item);
    }
}

// Bytes of a DISP item's data that go to the file.
int64_t DispWriteLength(uint32_t format, const uint8_t* data)
{
    int64_t size = GlobalMemSize(data);
    if (format == kDispFormatText)
        return TextLength(reinterpret_cast<const char*>(data), size);
    // A block too short to hold the bitmap header is written as it stands.
    if (size < kDibHeaderEnd)
        return size;
    int64_t n = static_cast<int64_t>(GetLE32(data)) + GetLE32(data + 20) + 4 * static_cast<int64_t>(GetLE32(data + 32));
    return n < size ? n : size; // never past the block
}

bool WriteDispItem(HMMIO h, const TDisp* item, const uint8_t* data)
{
    MMCKINFO ck{};
    ck.ckid = mmioFourCC('D', 'I', 'S', 'P');
    if (mmioCreateChunk(h, &ck, 0) != 0 || !WriteAll(h, &item->ClipFormat, 4))
        return false;
    int64_t n = DispWriteLength(item->ClipFormat, data);
    if (!WriteAll(h, data, n))
        return false;
    // A text always ends with its zero, also when the block lacks one.
    if (item->ClipFormat == kDispFormatText && !WriteAll(h, "", 1))
        return false;
    return mmioAscend(h, &ck, 0) == 0;
}

} // namespace

bool RiffCopyChunk(HMMIO hSrc, HMMIO hDst, const MMCKINFO& ck)
{
    MMCKINFO nck{};
    nck.ckid = ck.ckid;
    nck.cksize = ck.cksize;
    return CopyInto(hSrc, hDst, nck, 0, ck.cksize);
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
    return CopyInto(hSrc, hDst, nck, MMIO_CREATELIST, static_cast<int64_t>(ck.cksize) - 4);
}

// ---- INFO ----

int32_t RiffInitINFO(TInfoChunk*& list)
{
    list = TryNewRecord<TInfoChunk>();
    if (list == nullptr)
        return riffErrNoMem;
    for (uint16_t i = 0; i < kInfoCount; ++i)
        RiffInsertINFO(list, RiffCreateINFO(0, i, 0, nullptr));
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
    int64_t left = BytesLeft(h);
    if (left < 0 || n > left || n > INT32_MAX - 1)
        return riffErrIO;
    char* raw = nullptr;
    try {
        raw = static_cast<char*>(GlobalAllocMem(n + 1)); // spare zero after the body
    } catch (const std::bad_alloc&) {
        return riffErrNoMem;
    }
    if (!ReadAll(h, raw, n)) {
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

int32_t RiffParseINFO(TInfoChunk* list)
{
    if (list == nullptr)
        return riffErrBadParam;
    for (TInfoData* item = list->Items; item != nullptr; item = item->Next)
        item->TextOffset = 0;
    char* raw = list->RawText;
    // The block holds the body and a spare zero; stay inside it whatever RawSize says.
    int64_t size = GlobalMemSize(raw) - 1;
    if (list->RawSize < size)
        size = list->RawSize;
    int64_t p = 0;
    while (p + 8 <= size) {
        auto* entry = reinterpret_cast<const uint8_t*>(raw + p);
        uint32_t id = GetLE32(entry);
        uint32_t s = GetLE32(entry + 4);
        int64_t start = p + 8;
        int64_t avail = size - start < s ? size - start : s; // cut at the end of the list
        int64_t len = TextLength(raw + start, avail);
        if (len == avail && avail > 0) {
            // No zero inside the entry. Past the end of the list the spare zero ends the
            // text; a pad byte may take the zero; otherwise the last character does, so
            // that the next entry's header stays intact.
            int64_t end = start + avail;
            if (end < size && s % 2 == 0)
                raw[end - 1] = 0;
            else
                raw[end] = 0;
        }
        TInfoData* item = RiffFindPIINFO(list, id);
        if (item != nullptr) // an entry of size 0 carries no text
            RiffModifyINFO(list, item, 0, avail > 0 ? static_cast<int32_t>(start) : 0, nullptr);
        p = start + s + (s % 2);
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
        int64_t n = TextLength(text, TextRoom(list, item, text)) + 1;
        if (n > INT32_MAX)
            return riffErrIO;
        MMCKINFO ck{};
        ck.ckid = mmioStringToFOURCCA(aINFO[item->Index].id, 0);
        ck.cksize = static_cast<uint32_t>(n);
        if (mmioCreateChunk(h, &ck, 0) != 0 || !WriteAll(h, text, n - 1) || !WriteAll(h, "", 1) ||
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
            int64_t n = TextLength(text, TextRoom(src, item, text));
            copy = static_cast<char*>(GlobalAllocMem(n + 1));
            std::memcpy(copy, text, static_cast<size_t>(n));
        } catch (const std::bad_alloc&) {
            return riffErrNoMem;
        }
        TInfoData* target = RiffFindPIINFO(dst, mmioStringToFOURCCA(aINFO[item->Index].id, 0));
        RiffModifyINFO(dst, target, 1, 0, copy);
    }
    return 0;
}

TInfoData* RiffCreateINFO(uint16_t state, uint16_t index, int32_t offset, char* text)
{
    TInfoData* item = TryNewRecord<TInfoData>();
    if (item != nullptr)
        *item = TInfoData{index, state, offset, text, nullptr};
    return item;
}

void RiffInsertINFO(TInfoChunk* list, TInfoData* item)
{
    if (list != nullptr && item != nullptr)
        AppendToChain(list->Items, item);
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
        } else if (SameText(text, GlobalMemSize(text), item->Text, GlobalMemSize(item->Text))) {
            GlobalFreeMem(text);
        } else {
            GlobalFreeMem(item->Text);
            if (text[0] != 0) {
                item->Text = text;
                item->State = flags;
            } else {
                GlobalFreeMem(text);
                item->State = 2; // the file text, if any, is current again
            }
        }
        return;
    }
    if (text == nullptr)
        return;
    const char* fileText = FileText(list, item);
    if (fileText == nullptr) {
        if (text[0] != 0) {
            item->Text = text;
            item->State = flags;
        } else {
            GlobalFreeMem(text);
        }
    } else if (SameText(text, GlobalMemSize(text), fileText, TextRoom(list, item, fileText))) {
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
    return FileText(list, item);
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
    list = TryNewRecord<TDispList>();
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
    int64_t left = BytesLeft(h);
    if (left < 0 || n + 4 > left || n > INT32_MAX)
        return riffErrIO;
    TDisp* item = nullptr;
    try {
        item = NewRecord<TDisp>();
        item->Data = static_cast<uint8_t*>(GlobalAllocMem(n));
    } catch (const std::bad_alloc&) {
        GlobalFreeMem(item);
        return riffErrNoMem;
    }
    if (!ReadAll(h, &item->ClipFormat, 4) || !ReadAll(h, item->Data, n)) {
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
        if (data == nullptr || IsEmptyBlock(data))
            continue;
        if (!WriteDispItem(h, item, data))
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
    FreeDispItems(dst);
    for (TDisp* item = src->Items; item != nullptr; item = item->Next) {
        const uint8_t* data = RiffDispData(item);
        if (item->ClipFormat == 0 || data == nullptr || IsEmptyBlock(data))
            continue;
        uint8_t* copy = nullptr;
        try {
            copy = CopyBlock(data);
        } catch (const std::bad_alloc&) {
            return riffErrNoMem;
        }
        TDisp* added = RiffCreateDISP(0, item->ClipFormat, nullptr, copy);
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
    TDisp* item = TryNewRecord<TDisp>();
    if (item != nullptr)
        *item = TDisp{clipFormat, state, data, newData, nullptr};
    return item;
}

void RiffInsertDISP(TDispList* list, TDisp* item)
{
    if (list != nullptr && item != nullptr)
        AppendToChain(list->Items, item);
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
        if (data != nullptr && SameBlock(data, item->NewData)) {
            GlobalFreeMem(data);
            return;
        }
        GlobalFreeMem(item->NewData);
        if (data != nullptr && !IsEmptyBlock(data)) {
            item->NewData = data;
            item->State = state;
        } else {
            GlobalFreeMem(data);
            item->State = 2;
        }
        return;
    }
    if (data == nullptr) {
        item->State = state;
    } else if (item->Data != nullptr && SameBlock(data, item->Data)) {
        GlobalFreeMem(data);
    } else if (!IsEmptyBlock(data) || (item->Data != nullptr && !IsEmptyBlock(item->Data))) {
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
    FreeDispItems(list);
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
    return item->State == 1 ? nullptr : item->Data;
}

} // namespace orvelle
