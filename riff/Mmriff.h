#pragma once
// The "LIST" "INFO" and "DISP" metadata of a wave file, kept as lists in memory.
// Every block here (list records, items, texts, data) comes from GlobalAllocMem and is
// released with GlobalFreeMem; a data block's length is GlobalMemSize of it.
#include <cstdint>
#include <memory>

#include "waveio/Mmio.h"

namespace orvelle {

// Result codes.
inline constexpr int32_t riffErrBadParam = 2; // missing list or handle
inline constexpr int32_t riffErrIO = 3; // a read, write or chunk step failed
inline constexpr int32_t riffErrNoMem = 4; // no memory for a block

// States of an INFO or DISP item (TInfoData::State, TDisp::State).
inline constexpr uint16_t riffStateAsRead = 0; // as read from the file (or copied)
inline constexpr uint16_t riffStateSet = 1; // set by the program
inline constexpr uint16_t riffStateDropped = 2; // the program's text or data was dropped

struct TInfoEntry {
    const char* id; // four characters
    const char* name; // display name
    const char* description; // what the item records
};
inline constexpr int32_t kInfoCount = 23;
// The INFO items the system knows, in the order they are written.
extern const TInfoEntry aINFO[kInfoCount];

struct TInfoData {
    uint16_t Index; // position of the item's id in aINFO
    uint16_t State; // riffStateAsRead, riffStateSet or riffStateDropped
    int32_t TextOffset; // offset in RawText of the file's text; 0: none
    char* Text; // zero-terminated text set by the program; null: none
    TInfoData* Next;
};

struct TInfoChunk {
    // Copy of the INFO list body as read (after the list type), then a zero, then copies of
    // the texts whose entry leaves no room for their zero; null: none. RawText +
    // TextOffset is always a zero-terminated text inside the block.
    char* RawText;
    int32_t RawSize; // bytes of the body in RawText
    TInfoData* Items;
    TInfoData* Last; // the chain's last item, so that appending is constant time
};

struct TDisp {
    uint32_t ClipFormat; // 1 text, 8 device-independent bitmap; others are kept, never written
    uint16_t State; // riffStateAsRead, riffStateSet or riffStateDropped
    uint8_t* Data; // block read from the file; null: none
    uint8_t* NewData; // block set by the program; null: none
    TDisp* Next;
};

struct TDispList {
    TDisp* Items;
    TDisp* Last; // the chain's last item, so that appending is constant time
};

// mmioFourCC comes from util/Mmtypes.h through waveio/Mmio.h.

// Chunk copiers: `hSrc` stands at the body of the chunk `ck`.
bool RiffCopyChunk(HMMIO hSrc, HMMIO hDst, const MMCKINFO& ck);
bool RiffCopyList(HMMIO hSrc, HMMIO hDst, const MMCKINFO& ck);

int32_t RiffInitINFO(TInfoChunk*& list);
// `ck` is a "LIST" "INFO" chunk just entered (position after the list type).
int32_t RiffReadINFO(HMMIO h, const MMCKINFO& ck, TInfoChunk* list);
int32_t RiffParseINFO(TInfoChunk* list);
int32_t RiffWriteINFO(HMMIO h, TInfoChunk* list);
int32_t RiffCopyInfo(TInfoChunk*& dst, TInfoChunk* src);
TInfoData* RiffCreateINFO(uint16_t state, uint16_t index, int32_t offset, char* text);
void RiffInsertINFO(TInfoChunk* list, TInfoData* item);
TInfoData* RiffFindPIINFO(TInfoChunk* list, FOURCC fcc);
int32_t RiffFindaINFO(FOURCC fcc);
// `text` (a GlobalAllocMem block, may be null) is handed over: kept or released.
void RiffModifyINFO(TInfoChunk* list, TInfoData* item, uint16_t flags, int32_t offset, char* text);
int32_t RiffFreeINFO(TInfoChunk*& list);
// The item's current text (program text, else file text), or null when it has none.
const char* RiffInfoText(const TInfoChunk* list, const TInfoData* item);
// A GlobalAllocMem copy of a zero-terminated text (raises std::bad_alloc).
char* RiffNewText(const char* text);

int32_t RiffInitDISP(TDispList*& list);
int32_t RiffReadDISP(HMMIO h, const MMCKINFO& ck, TDispList*& list);
int32_t RiffWriteDISP(HMMIO h, TDispList* list);
int32_t RiffCopyDISP(TDispList* dst, TDispList* src);
TDisp* RiffCreateDISP(uint16_t state, uint32_t clipFormat, uint8_t* data, uint8_t* newData);
void RiffInsertDISP(TDispList* list, TDisp* item);
// `data` (a GlobalAllocMem block, may be null) is handed over: kept or released.
void RiffModifyDISP(TDispList* list, TDisp* item, uint16_t state, uint8_t* data);
int32_t RiffFreeDISP(TDispList*& list, bool freeList);
// The item's current data, or null when it has none.
const uint8_t* RiffDispData(const TDisp* item);

// Owning handles of the two lists.
struct InfoListDeleter {
    void operator()(TInfoChunk* list) const { RiffFreeINFO(list); }
};
using InfoListHandle = std::unique_ptr<TInfoChunk, InfoListDeleter>;
struct DispListDeleter {
    void operator()(TDispList* list) const { RiffFreeDISP(list, true); }
};
using DispListHandle = std::unique_ptr<TDispList, DispListDeleter>;

} // namespace orvelle
