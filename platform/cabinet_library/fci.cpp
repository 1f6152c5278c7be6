// A File Compression Interface over zlib. A cabinet is assembled in two
// temporary files, one for the file entries and one for the data blocks of
// every folder, and written out when it is flushed: header, folder entries,
// file entries, data. Nothing here allocates or touches a file except through
// the client's callbacks; zlib's own state comes from the allocation callback
// too.
#include "platform/cabinet_library/fci.h"

#include <cstring>
#include <zlib.h>

#define FCI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Cabinet format 1.3. Offsets inside each record, as the format lays them out.
constexpr unsigned cfheadSignature = 0x00;      // "MSCF"
constexpr unsigned cfheadCabinetSize = 0x08;
constexpr unsigned cfheadFileOffset = 0x10;
constexpr unsigned cfheadMinorVersion = 0x18;
constexpr unsigned cfheadMajorVersion = 0x19;
constexpr unsigned cfheadNumFolders = 0x1A;
constexpr unsigned cfheadNumFiles = 0x1C;
constexpr unsigned cfheadFlags = 0x1E;
constexpr unsigned cfheadSetID = 0x20;
constexpr unsigned cfheadCabinetIndex = 0x22;
constexpr unsigned cfheadSize = 0x24;
constexpr unsigned cfheadextHeaderReserved = 0x00;  // present only with cfheadRESERVE_PRESENT
constexpr unsigned cfheadextFolderReserved = 0x02;
constexpr unsigned cfheadextDataReserved = 0x03;
constexpr unsigned cfheadextSize = 0x04;
constexpr unsigned cffoldDataOffset = 0x00;
constexpr unsigned cffoldNumBlocks = 0x04;
constexpr unsigned cffoldCompType = 0x06;
constexpr unsigned cffoldSize = 0x08;
constexpr unsigned cffileUncompressedSize = 0x00;
constexpr unsigned cffileFolderOffset = 0x04;
constexpr unsigned cffileFolderIndex = 0x08;
constexpr unsigned cffileDate = 0x0A;
constexpr unsigned cffileTime = 0x0C;
constexpr unsigned cffileAttribs = 0x0E;
constexpr unsigned cffileSize = 0x10;
constexpr unsigned cfdataCheckSum = 0x00;
constexpr unsigned cfdataCompressedSize = 0x04;
constexpr unsigned cfdataUncompressedSize = 0x06;
constexpr unsigned cfdataSize = 0x08;
constexpr unsigned cfheadRESERVE_PRESENT = 0x0004;

// Limits, and why.
constexpr unsigned blockSize = 32768;              // MSZIP: uncompressed bytes per CFDATA block
constexpr unsigned maxBlocks = 65535;              // CFFOLDER.cCFData is 16 bits
constexpr std::uint64_t maxFolderBytes = std::uint64_t{blockSize} * maxBlocks;  // readers refuse more
constexpr unsigned maxFolders = 65535;             // CFHEADER.cFolders is 16 bits
constexpr unsigned maxFiles = 65535;               // CFHEADER.cFiles is 16 bits
constexpr std::size_t maxNameBytes = CB_MAX_FILENAME - 1;  // readers take names of at most 255 bytes
constexpr unsigned maxHeaderReserve = 60000;       // the format's bound on abReserve
constexpr unsigned maxEntryReserve = 255;          // cbCFFolder and cbCFData are 8 bits
constexpr unsigned compressedMax = blockSize + 6144;  // readers' input buffer for one block
constexpr std::uint64_t maxCabinetBytes = 0xFFFFFFFFu;  // CFHEADER.cbCabinet is 32 bits
// Deflate: raw stream, full window, the level the benchmarks chose.
constexpr int deflateLevel = 6;
constexpr int deflateWindowBits = -15;
constexpr int deflateMemLevel = 8;
// Ends each block's deflate data: a final, empty block with fixed codes.
constexpr unsigned char finalEmptyBlock[2] = {0x03, 0x00};

constexpr std::uint32_t contextMagic = 0x49434646;  // "FFCI"

// Run-time library numbering, which the file callbacks take.
constexpr int oRdWr = 0x0002;
constexpr int oCreat = 0x0100;
constexpr int oTrunc = 0x0200;
constexpr int oExcl = 0x0400;
constexpr int oBinary = 0x8000;
constexpr int sIRead = 0x0100;
constexpr int sIWrite = 0x0080;
constexpr int seekSet = 0;
constexpr int seekEnd = 2;

void put16(unsigned char* at, unsigned value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void put32(unsigned char* at, std::uint32_t value) {
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
}

// The format's block checksum: little-endian words XORed, with the 1-3 bytes
// left over taken first byte highest.
std::uint32_t checksum(const unsigned char* bytes, std::size_t count, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t words = count / 4;
    for (std::size_t i = 0; i < words; ++i, bytes += 4)
        sum ^= static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    std::uint32_t rest = 0;
    switch (count % 4) {
        case 3: rest |= static_cast<std::uint32_t>(*bytes++) << 16; [[fallthrough]];
        case 2: rest |= static_cast<std::uint32_t>(*bytes++) << 8; [[fallthrough]];
        case 1: rest |= *bytes; break;
        default: break;
    }
    return sum ^ rest;
}

struct TempFile {
    char name[CB_MAX_FILENAME];
    INT_PTR handle;
    std::uint64_t size;  // bytes that belong to the cabinet being built
};

struct FolderRecord {
    std::uint64_t dataStart;  // offset in the data temporary file
    std::uint32_t blocks;
    TCOMP type;
};

struct Context {
    std::uint32_t magic;
    ERF* erf;
    PFNFCIFILEPLACED placed;
    PFNFCIALLOC alloc;
    PFNFCIFREE release;
    PFNFCIOPEN open;
    PFNFCIREAD read;
    PFNFCIWRITE write;
    PFNFCICLOSE close;
    PFNFCISEEK seek;
    PFNFCIDELETE remove;
    PFNFCIGETTEMPFILE tempName;
    void* pv;
    CCAB ccab;
    int failedWith;  // once a call failed, the context only reports it again

    TempFile files;  // CFFILE records
    TempFile data;   // CFDATA blocks
    std::uint32_t fileCount;

    FolderRecord* folders;
    std::uint32_t folderCount;
    std::uint32_t folderCapacity;

    // The folder being filled.
    bool folderOpen;
    TCOMP folderType;
    std::uint64_t folderBytes;       // uncompressed
    std::uint64_t folderCompressed;  // bytes in the data file, headers included
    std::uint32_t folderBlocks;

    unsigned char* input;   // blockSize bytes
    unsigned inputUsed;
    unsigned char* output;  // cfdataSize + reserve + compressedMax
    z_stream zip;
    bool zipReady;
};

void setError(Context* cx, int code, int type = 0) {
    if (cx->erf != nullptr) {
        cx->erf->erfOper = code;
        cx->erf->erfType = type;
        cx->erf->fError = 1;
    }
    cx->failedWith = code;
}

voidpf zipAlloc(voidpf opaque, uInt items, uInt size) {
    auto* cx = static_cast<Context*>(opaque);
    std::uint64_t bytes = std::uint64_t{items} * size;
    if (bytes == 0 || bytes > 0xFFFFFFFFu) return nullptr;
    return cx->alloc(static_cast<ULONG>(bytes));
}

void zipFree(voidpf opaque, voidpf address) { static_cast<Context*>(opaque)->release(address); }

Context* contextOf(HFCI hfci) {
    auto* cx = static_cast<Context*>(hfci);
    if (cx == nullptr || cx->magic != contextMagic) return nullptr;
    if (cx->failedWith != FCIERR_NONE) {
        setError(cx, cx->failedWith, cx->erf != nullptr ? cx->erf->erfType : 0);
        return nullptr;
    }
    return cx;
}

// Whole writes and reads through the callbacks.
bool writeAll(Context* cx, INT_PTR handle, const void* bytes, UINT count, int* err) {
    if (count == 0) return true;
    return cx->write(handle, const_cast<void*>(bytes), count, err, cx->pv) == count;
}

bool readAll(Context* cx, INT_PTR handle, void* bytes, UINT count, int* err) {
    if (count == 0) return true;
    return cx->read(handle, bytes, count, err, cx->pv) == count;
}

bool openTemp(Context* cx, TempFile& temp) {
    temp.handle = -1;
    temp.size = 0;
    std::memset(temp.name, 0, sizeof temp.name);
    if (!cx->tempName(temp.name, sizeof temp.name, cx->pv) || temp.name[0] == '\0' ||
        std::memchr(temp.name, 0, sizeof temp.name) == nullptr) {
        temp.name[0] = '\0';
        setError(cx, FCIERR_TEMP_FILE);
        return false;
    }
    int err = 0;
    temp.handle = cx->open(temp.name, oRdWr | oCreat | oExcl | oBinary, sIRead | sIWrite, &err, cx->pv);
    if (temp.handle == -1) {
        temp.name[0] = '\0';
        setError(cx, FCIERR_TEMP_FILE, err);
        return false;
    }
    return true;
}

void dropTemp(Context* cx, TempFile& temp) {
    int err = 0;
    if (temp.handle != -1) cx->close(temp.handle, &err, cx->pv);
    temp.handle = -1;
    if (temp.name[0] != '\0') cx->remove(temp.name, &err, cx->pv);
    temp.name[0] = '\0';
}

bool appendTemp(Context* cx, TempFile& temp, const void* bytes, UINT count) {
    int err = 0;
    if (!writeAll(cx, temp.handle, bytes, count, &err)) {
        setError(cx, FCIERR_TEMP_FILE, err);
        return false;
    }
    temp.size += count;
    return true;
}

bool abortRequested(Context* cx, long answer) {
    if (answer != -1) return false;
    setError(cx, FCIERR_USER_ABORT);
    return true;
}

// Compresses the input buffer into one CFDATA block of the current folder.
bool writeBlock(Context* cx, PFNFCISTATUS status) {
    if (cx->inputUsed == 0) return true;
    unsigned reserve = cx->ccab.cbReserveCFData;
    unsigned char* header = cx->output;
    unsigned char* payload = header + cfdataSize + reserve;
    unsigned payloadSize;
    if ((cx->folderType & tcompMASK_TYPE) == tcompTYPE_MSZIP) {
        payload[0] = 'C';
        payload[1] = 'K';
        // A sync flush ends the data on a byte boundary and keeps the
        // history for the next block, which the format requires; the empty
        // final block then closes this block's deflate stream.
        cx->zip.next_in = cx->input;
        cx->zip.avail_in = cx->inputUsed;
        cx->zip.next_out = payload + 2;
        cx->zip.avail_out = compressedMax - 2 - sizeof finalEmptyBlock;
        int result = deflate(&cx->zip, Z_SYNC_FLUSH);
        if (result != Z_OK || cx->zip.avail_in != 0 || cx->zip.avail_out == 0) {
            setError(cx, FCIERR_MCI_FAIL);
            return false;
        }
        payloadSize = static_cast<unsigned>(cx->zip.next_out - payload);
        std::memcpy(payload + payloadSize, finalEmptyBlock, sizeof finalEmptyBlock);
        payloadSize += sizeof finalEmptyBlock;
        if (cx->ccab.fFailOnIncompressible && payloadSize >= cx->inputUsed) {
            setError(cx, FCIERR_MCI_FAIL);
            return false;
        }
    } else {
        std::memcpy(payload, cx->input, cx->inputUsed);
        payloadSize = cx->inputUsed;
    }
    put16(header + cfdataCompressedSize, payloadSize);
    put16(header + cfdataUncompressedSize, cx->inputUsed);
    std::memset(header + cfdataSize, 0, reserve);
    put32(header + cfdataCheckSum, checksum(header + cfdataCompressedSize, 4, checksum(payload, payloadSize, 0)));
    unsigned total = cfdataSize + reserve + payloadSize;
    if (!appendTemp(cx, cx->data, header, total)) return false;
    cx->folderBlocks += 1;
    cx->folderBytes += cx->inputUsed;
    cx->folderCompressed += total;
    unsigned uncompressed = cx->inputUsed;
    cx->inputUsed = 0;
    if (status != nullptr && abortRequested(cx, status(statusFile, payloadSize, uncompressed, cx->pv))) return false;
    return true;
}

bool beginFolder(Context* cx, TCOMP type) {
    if (cx->folderCount >= maxFolders) {
        setError(cx, FCIERR_CAB_FORMAT_LIMIT);
        return false;
    }
    if ((type & tcompMASK_TYPE) == tcompTYPE_MSZIP && deflateReset(&cx->zip) != Z_OK) {
        setError(cx, FCIERR_MCI_FAIL);
        return false;
    }
    cx->folderOpen = true;
    cx->folderType = type;
    cx->folderBytes = 0;
    cx->folderCompressed = 0;
    cx->folderBlocks = 0;
    cx->inputUsed = 0;
    return true;
}

bool endFolder(Context* cx, PFNFCISTATUS status) {
    if (!cx->folderOpen) return true;  // nothing added since the last folder: no empty folder
    if (!writeBlock(cx, status)) return false;
    if (cx->folderCount == cx->folderCapacity) {
        std::uint32_t capacity = cx->folderCapacity == 0 ? 16 : cx->folderCapacity * 2;
        if (capacity > maxFolders) capacity = maxFolders;
        auto* grown = static_cast<FolderRecord*>(cx->alloc(static_cast<ULONG>(capacity * sizeof(FolderRecord))));
        if (grown == nullptr) {
            setError(cx, FCIERR_ALLOC_FAIL);
            return false;
        }
        if (cx->folders != nullptr) {
            std::memcpy(grown, cx->folders, cx->folderCount * sizeof(FolderRecord));
            cx->release(cx->folders);
        }
        cx->folders = grown;
        cx->folderCapacity = capacity;
    }
    FolderRecord& folder = cx->folders[cx->folderCount++];
    folder.dataStart = cx->data.size - cx->folderCompressed;
    folder.blocks = cx->folderBlocks;
    folder.type = cx->folderType;
    cx->folderOpen = false;
    ULONG size = cx->folderCompressed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(cx->folderCompressed);
    if (status != nullptr && abortRequested(cx, status(statusFolder, size, size, cx->pv))) return false;
    return true;
}

bool isPlainAscii(const char* name) {
    for (const char* c = name; *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) >= 0x80) return false;
    return true;
}

void releaseAll(Context* cx) {
    dropTemp(cx, cx->files);
    dropTemp(cx, cx->data);
    if (cx->zipReady) deflateEnd(&cx->zip);
    cx->zipReady = false;
    if (cx->folders != nullptr) cx->release(cx->folders);
    cx->folders = nullptr;
    if (cx->output != nullptr) cx->release(cx->output);
    cx->output = nullptr;
    if (cx->input != nullptr) cx->release(cx->input);
    cx->input = nullptr;
    cx->magic = 0;
    PFNFCIFREE release = cx->release;
    release(cx);
}

// Copies bytes [0, size) of a temporary file into the cabinet.
bool copyTemp(Context* cx, TempFile& temp, INT_PTR cabinet, int* err) {
    int tempErr = 0;
    if (cx->seek(temp.handle, 0, seekSet, &tempErr, cx->pv) != 0) {
        setError(cx, FCIERR_TEMP_FILE, tempErr);
        return false;
    }
    std::uint64_t left = temp.size;
    unsigned chunk = cfdataSize + cx->ccab.cbReserveCFData + compressedMax;
    while (left > 0) {
        UINT count = left < chunk ? static_cast<UINT>(left) : chunk;
        if (!readAll(cx, temp.handle, cx->output, count, &tempErr)) {
            setError(cx, FCIERR_TEMP_FILE, tempErr);
            return false;
        }
        if (!writeAll(cx, cabinet, cx->output, count, err)) {
            setError(cx, FCIERR_CAB_FILE, *err);
            return false;
        }
        left -= count;
    }
    // Later appends for a following cabinet start at the beginning again.
    if (cx->seek(temp.handle, 0, seekSet, &tempErr, cx->pv) != 0) {
        setError(cx, FCIERR_TEMP_FILE, tempErr);
        return false;
    }
    return true;
}

bool writeCabinet(Context* cx, PFNFCISTATUS status) {
    bool reserved = cx->ccab.cbReserveCFHeader != 0 || cx->ccab.cbReserveCFFolder != 0 || cx->ccab.cbReserveCFData != 0;
    std::uint64_t headerBytes = cfheadSize + (reserved ? cfheadextSize + cx->ccab.cbReserveCFHeader : 0);
    std::uint64_t folderEntryBytes = cffoldSize + cx->ccab.cbReserveCFFolder;
    std::uint64_t filesStart = headerBytes + folderEntryBytes * cx->folderCount;
    std::uint64_t dataStart = filesStart + cx->files.size;
    std::uint64_t total = dataStart + cx->data.size;
    std::uint64_t limit = cx->ccab.cb != 0 && cx->ccab.cb < maxCabinetBytes ? cx->ccab.cb : maxCabinetBytes;
    if (total > limit) {  // one cabinet only: no spanning
        setError(cx, FCIERR_CAB_FORMAT_LIMIT);
        return false;
    }
    if (status != nullptr &&
        abortRequested(cx, status(statusCabinet, static_cast<ULONG>(total), static_cast<ULONG>(total), cx->pv)))
        return false;

    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
    std::size_t pathLength = strnlen(cx->ccab.szCabPath, CB_MAX_CAB_PATH - 1);
    std::size_t nameLength = strnlen(cx->ccab.szCab, CB_MAX_CABINET_NAME - 1);
    std::memcpy(path, cx->ccab.szCabPath, pathLength);
    std::memcpy(path + pathLength, cx->ccab.szCab, nameLength);
    path[pathLength + nameLength] = '\0';

    int err = 0;
    INT_PTR cabinet = cx->open(path, oRdWr | oCreat | oTrunc | oBinary, sIRead | sIWrite, &err, cx->pv);
    if (cabinet == -1) {
        setError(cx, FCIERR_CAB_FILE, err);
        return false;
    }

    // The output buffer is free between blocks; the header fits it easily.
    unsigned char* head = cx->output;
    std::memset(head, 0, static_cast<std::size_t>(headerBytes));
    std::memcpy(head + cfheadSignature, "MSCF", 4);
    put32(head + cfheadCabinetSize, static_cast<std::uint32_t>(total));
    put32(head + cfheadFileOffset, static_cast<std::uint32_t>(filesStart));
    head[cfheadMinorVersion] = 3;
    head[cfheadMajorVersion] = 1;
    put16(head + cfheadNumFolders, cx->folderCount);
    put16(head + cfheadNumFiles, cx->fileCount);
    put16(head + cfheadFlags, reserved ? cfheadRESERVE_PRESENT : 0);
    put16(head + cfheadSetID, cx->ccab.setID);
    put16(head + cfheadCabinetIndex, static_cast<unsigned>(cx->ccab.iCab > 0 ? cx->ccab.iCab - 1 : 0));
    if (reserved) {
        put16(head + cfheadSize + cfheadextHeaderReserved, cx->ccab.cbReserveCFHeader);
        head[cfheadSize + cfheadextFolderReserved] = static_cast<unsigned char>(cx->ccab.cbReserveCFFolder);
        head[cfheadSize + cfheadextDataReserved] = static_cast<unsigned char>(cx->ccab.cbReserveCFData);
    }
    bool ok = writeAll(cx, cabinet, head, static_cast<UINT>(headerBytes), &err);
    for (std::uint32_t i = 0; ok && i < cx->folderCount; ++i) {
        unsigned char entry[cffoldSize + maxEntryReserve] = {};
        put32(entry + cffoldDataOffset, static_cast<std::uint32_t>(dataStart + cx->folders[i].dataStart));
        put16(entry + cffoldNumBlocks, cx->folders[i].blocks);
        put16(entry + cffoldCompType, cx->folders[i].type);
        ok = writeAll(cx, cabinet, entry, static_cast<UINT>(folderEntryBytes), &err);
    }
    if (!ok) setError(cx, FCIERR_CAB_FILE, err);
    ok = ok && copyTemp(cx, cx->files, cabinet, &err) && copyTemp(cx, cx->data, cabinet, &err);
    int closeErr = 0;
    if (cx->close(cabinet, &closeErr, cx->pv) != 0 && ok) {
        setError(cx, FCIERR_CAB_FILE, closeErr);
        ok = false;
    }
    if (!ok) {
        int deleteErr = 0;
        cx->remove(path, &deleteErr, cx->pv);
        return false;
    }
    return true;
}

}  // namespace

FCI_EXPORT HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
                          PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
                          PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab,
                          void* pv) {
    if (perf != nullptr) *perf = ERF{FCIERR_NONE, 0, 0};
    if (pfnfcifp == nullptr || pfna == nullptr || pfnf == nullptr || pfnopen == nullptr || pfnread == nullptr ||
        pfnwrite == nullptr || pfnclose == nullptr || pfnseek == nullptr || pfndelete == nullptr ||
        pfnfcigtf == nullptr || pccab == nullptr) {
        if (perf != nullptr) *perf = ERF{FCIERR_CAB_FILE, 0, 1};  // nothing to make a cabinet with
        return nullptr;
    }
    auto* cx = static_cast<Context*>(pfna(sizeof(Context)));
    if (cx == nullptr) {
        if (perf != nullptr) *perf = ERF{FCIERR_ALLOC_FAIL, 0, 1};
        return nullptr;
    }
    std::memset(cx, 0, sizeof *cx);
    cx->magic = contextMagic;
    cx->erf = perf;
    cx->placed = pfnfcifp;
    cx->alloc = pfna;
    cx->release = pfnf;
    cx->open = pfnopen;
    cx->read = pfnread;
    cx->write = pfnwrite;
    cx->close = pfnclose;
    cx->seek = pfnseek;
    cx->remove = pfndelete;
    cx->tempName = pfnfcigtf;
    cx->pv = pv;
    cx->ccab = *pccab;
    cx->files.handle = -1;
    cx->data.handle = -1;
    if (cx->ccab.cbReserveCFHeader > maxHeaderReserve || cx->ccab.cbReserveCFFolder > maxEntryReserve ||
        cx->ccab.cbReserveCFData > maxEntryReserve) {
        setError(cx, FCIERR_CAB_FORMAT_LIMIT);
        releaseAll(cx);
        return nullptr;
    }
    // The output buffer holds one block, or the header with its reserve.
    std::size_t outputSize = cfdataSize + cx->ccab.cbReserveCFData + compressedMax;
    if (outputSize < cfheadSize + cfheadextSize + cx->ccab.cbReserveCFHeader)
        outputSize = cfheadSize + cfheadextSize + cx->ccab.cbReserveCFHeader;
    cx->input = static_cast<unsigned char*>(pfna(blockSize));
    cx->output = static_cast<unsigned char*>(pfna(static_cast<ULONG>(outputSize)));
    if (cx->input == nullptr || cx->output == nullptr) {
        setError(cx, FCIERR_ALLOC_FAIL);
        releaseAll(cx);
        return nullptr;
    }
    cx->zip.zalloc = zipAlloc;
    cx->zip.zfree = zipFree;
    cx->zip.opaque = cx;
    int result = deflateInit2(&cx->zip, deflateLevel, Z_DEFLATED, deflateWindowBits, deflateMemLevel,
                              Z_DEFAULT_STRATEGY);
    if (result != Z_OK) {
        setError(cx, result == Z_MEM_ERROR ? FCIERR_ALLOC_FAIL : FCIERR_MCI_FAIL);
        releaseAll(cx);
        return nullptr;
    }
    cx->zipReady = true;
    if (!openTemp(cx, cx->files) || !openTemp(cx, cx->data)) {
        releaseAll(cx);
        return nullptr;
    }
    return cx;
}

FCI_EXPORT BOOL FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName, BOOL fExecute,
                           PFNFCIGETNEXTCABINET, PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                           TCOMP typeCompress) {
    Context* cx = contextOf(hfci);
    if (cx == nullptr) return 0;
    TCOMP type = typeCompress & tcompMASK_TYPE;
    if (type != tcompTYPE_NONE && type != tcompTYPE_MSZIP) {
        setError(cx, FCIERR_BAD_COMPR_TYPE);
        return 0;
    }
    if (pszSourceFile == nullptr || pszFileName == nullptr || pfnfcigoi == nullptr) {
        setError(cx, FCIERR_OPEN_SRC);
        return 0;
    }
    USHORT date = 0, time = 0, attribs = 0;
    int err = 0;
    INT_PTR source = pfnfcigoi(pszSourceFile, &date, &time, &attribs, &err, cx->pv);
    if (source == -1) {
        setError(cx, FCIERR_OPEN_SRC, err);
        return 0;
    }
    std::size_t nameLength = std::strlen(pszFileName);
    bool ok = nameLength > 0 && nameLength <= maxNameBytes && cx->fileCount < maxFiles;
    if (!ok) setError(cx, FCIERR_CAB_FORMAT_LIMIT);
    // The size at the start is what is stored, even if the file grows.
    long end = ok ? cx->seek(source, 0, seekEnd, &err, cx->pv) : -1;
    if (ok && (end < 0 || cx->seek(source, 0, seekSet, &err, cx->pv) != 0)) {
        setError(cx, FCIERR_READ_SRC, err);
        ok = false;
    }
    auto size = static_cast<std::uint64_t>(end);
    if (ok && (size > maxFolderBytes || size > 0xFFFFFFFFu)) {
        setError(cx, FCIERR_CAB_FORMAT_LIMIT);
        ok = false;
    }
    // A file lies wholly in one folder: start a new folder when this one
    // cannot take it within the block limit, or compresses differently.
    if (ok && cx->folderOpen &&
        (cx->folderType != typeCompress || cx->folderBytes + cx->inputUsed + size > maxFolderBytes))
        ok = endFolder(cx, pfnfcis);
    if (ok && !cx->folderOpen) ok = beginFolder(cx, typeCompress);
    std::uint64_t folderOffset = cx->folderBytes + cx->inputUsed;
    std::uint64_t left = size;
    while (ok && left > 0) {
        unsigned room = blockSize - cx->inputUsed;
        UINT want = left < room ? static_cast<UINT>(left) : room;
        UINT got = cx->read(source, cx->input + cx->inputUsed, want, &err, cx->pv);
        if (got != want) {  // a failed read, or a file that shrank
            setError(cx, FCIERR_READ_SRC, got == static_cast<UINT>(-1) ? err : 0);
            ok = false;
            break;
        }
        cx->inputUsed += got;
        left -= got;
        if (cx->inputUsed == blockSize) ok = writeBlock(cx, pfnfcis);
    }
    int closeErr = 0;
    cx->close(source, &closeErr, cx->pv);
    if (!ok) return 0;

    unsigned char entry[cffileSize + CB_MAX_FILENAME];
    USHORT attributes = static_cast<USHORT>(attribs & ~(_A_EXEC | _A_NAME_IS_UTF));
    if (fExecute) attributes |= _A_EXEC;
    if (!isPlainAscii(pszFileName)) attributes |= _A_NAME_IS_UTF;
    put32(entry + cffileUncompressedSize, static_cast<std::uint32_t>(size));
    put32(entry + cffileFolderOffset, static_cast<std::uint32_t>(folderOffset));
    put16(entry + cffileFolderIndex, cx->folderCount);
    put16(entry + cffileDate, date);
    put16(entry + cffileTime, time);
    put16(entry + cffileAttribs, attributes);
    std::memcpy(entry + cffileSize, pszFileName, nameLength + 1);
    if (!appendTemp(cx, cx->files, entry, static_cast<UINT>(cffileSize + nameLength + 1))) return 0;
    cx->fileCount += 1;
    if (cx->placed(&cx->ccab, pszFileName, static_cast<long>(size), 0, cx->pv) == -1) {
        setError(cx, FCIERR_USER_ABORT);
        return 0;
    }
    if (cx->folderCompressed >= cx->ccab.cbFolderThresh && !endFolder(cx, pfnfcis)) return 0;
    return 1;
}

FCI_EXPORT BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET, PFNFCISTATUS pfnfcis) {
    Context* cx = contextOf(hfci);
    if (cx == nullptr) return 0;
    return endFolder(cx, pfnfcis) ? 1 : 0;
}

FCI_EXPORT BOOL FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                                PFNFCISTATUS pfnfcis) {
    Context* cx = contextOf(hfci);
    if (cx == nullptr) return 0;
    if (!endFolder(cx, pfnfcis) || !writeCabinet(cx, pfnfcis)) return 0;
    // The context starts afresh for the next cabinet.
    cx->files.size = 0;
    cx->data.size = 0;
    cx->fileCount = 0;
    cx->folderCount = 0;
    if (fGetNextCab) {
        if (pfnfcignc == nullptr || !pfnfcignc(&cx->ccab, 0, cx->pv)) {
            setError(cx, FCIERR_USER_ABORT);
            return 0;
        }
    }
    return 1;
}

FCI_EXPORT BOOL FCIDestroy(HFCI hfci) {
    auto* cx = static_cast<Context*>(hfci);
    if (cx == nullptr || cx->magic != contextMagic) return 0;
    releaseAll(cx);
    return 1;
}
