// The cabinet library on its own, driven through counting callbacks that do
// the real work with POSIX calls and record every block, descriptor and
// temporary file, so a test can see that nothing is done behind their back
// and that every failure leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/cabinet_library/fci.h"
#include "tests/cabinet/cabinet_test_support.h"
#include "tests/common/test_support.h"

using namespace cabinet_test;
using testing_support::TempDir;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::run;
using testing_support::writeFile;

namespace {

struct Counting {
    std::map<void*, ULONG> blocks;
    long allocations = 0;
    long failAllocAt = 0;  // nth allocation fails
    std::set<INT_PTR> descriptors;
    std::map<INT_PTR, std::string> names;
    std::set<std::string> tempNames;
    std::set<std::string> deleted;
    long writes = 0;
    long failWriteAt = 0;
    long reads = 0;
    long failReadOf = -1;  // descriptor of the source whose reads fail
    long tempCalls = 0;
    bool failTemp = false;
    long statusAnswer = 0;
    int placedAnswer = 0;
    std::vector<std::string> placed;
    std::vector<UINT> statusKinds;
    std::string tempDir;
};

Counting* counting = nullptr;

void* countAlloc(ULONG cb) {
    if (++counting->allocations == counting->failAllocAt) return nullptr;
    void* block = std::malloc(cb);
    counting->blocks[block] = cb;
    return block;
}

void countFree(void* memory) {
    EXPECT_EQ(counting->blocks.erase(memory), 1u) << "freed a block it was not given";
    std::free(memory);
}

int posixFlags(int oflag) {
    int flags = (oflag & 3) == 2 ? O_RDWR : (oflag & 3) == 1 ? O_WRONLY : O_RDONLY;
    if (oflag & 0x0100) flags |= O_CREAT;
    if (oflag & 0x0200) flags |= O_TRUNC;
    if (oflag & 0x0400) flags |= O_EXCL;
    return flags;
}

INT_PTR countOpen(char* file, int oflag, int pmode, int* err, void* pv) {
    EXPECT_EQ(pv, counting);
    EXPECT_EQ(pmode, (oflag & 0x0100) ? 0x0180 : pmode);
    int fd = open(file, posixFlags(oflag), 0644);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    counting->descriptors.insert(fd);
    counting->names[fd] = file;
    return fd;
}

UINT countRead(INT_PTR hf, void* memory, UINT cb, int* err, void*) {
    EXPECT_TRUE(counting->descriptors.count(hf)) << "read from a descriptor it was not given";
    ++counting->reads;
    if (hf == counting->failReadOf) {
        *err = EIO;
        return static_cast<UINT>(-1);
    }
    ssize_t got = read(static_cast<int>(hf), memory, cb);
    if (got < 0) *err = errno;
    return static_cast<UINT>(got);
}

UINT countWrite(INT_PTR hf, void* memory, UINT cb, int* err, void*) {
    EXPECT_TRUE(counting->descriptors.count(hf)) << "wrote to a descriptor it was not given";
    if (++counting->writes == counting->failWriteAt) {
        *err = ENOSPC;
        return static_cast<UINT>(-1);
    }
    ssize_t put = write(static_cast<int>(hf), memory, cb);
    if (put < 0) *err = errno;
    return static_cast<UINT>(put);
}

int countClose(INT_PTR hf, int* err, void*) {
    EXPECT_EQ(counting->descriptors.erase(hf), 1u) << "closed a descriptor it was not given";
    counting->names.erase(hf);
    if (close(static_cast<int>(hf)) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}

long countSeek(INT_PTR hf, long dist, int seektype, int* err, void*) {
    EXPECT_TRUE(counting->descriptors.count(hf));
    off_t at = lseek(static_cast<int>(hf), dist, seektype);
    if (at < 0) *err = errno;
    return at < 0 ? -1 : static_cast<long>(at);
}

int countDelete(char* file, int* err, void*) {
    counting->deleted.insert(file);
    if (unlink(file) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}

BOOL countTemp(char* name, int size, void*) {
    ++counting->tempCalls;
    if (counting->failTemp) return 0;
    std::string temp = counting->tempDir + "/t" + std::to_string(counting->tempCalls);
    if (static_cast<int>(temp.size()) >= size) return 0;
    std::memcpy(name, temp.c_str(), temp.size() + 1);
    counting->tempNames.insert(temp);
    return 1;
}

int countPlaced(PCCAB, char* file, long, BOOL continuation, void*) {
    EXPECT_FALSE(continuation);
    counting->placed.push_back(file);
    return counting->placedAnswer;
}

long countStatus(UINT kind, ULONG, ULONG, void*) {
    counting->statusKinds.push_back(kind);
    return counting->statusAnswer;
}

BOOL countNext(PCCAB, ULONG, void*) { return 1; }

INT_PTR countOpenInfo(char* name, USHORT* date, USHORT* time, USHORT* attribs, int* err, void* pv) {
    *date = 0x5A8B;  // 2025-04-11
    *time = 0x73C5;  // 14:30:10
    *attribs = 0x21;
    return countOpen(name, 0x8000, 0, err, pv);
}

class FciLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        counting = &state;
        state.tempDir = temps.path();
        std::memset(&ccab, 0, sizeof ccab);
        ccab.cb = 0x7FFFFFFF;
        ccab.cbFolderThresh = 0x7FFFFFFF;
        ccab.iCab = 1;
        ccab.setID = 12345;
        std::string path = dir.path() + "/";
        std::memcpy(ccab.szCabPath, path.c_str(), path.size() + 1);
        std::memcpy(ccab.szCab, "t.cab", 6);
    }
    void TearDown() override {
        if (context != nullptr) {
            EXPECT_TRUE(FCIDestroy(context));
        }
        // Everything given back, every temporary file gone.
        EXPECT_TRUE(state.blocks.empty()) << state.blocks.size() << " blocks not freed";
        EXPECT_TRUE(state.descriptors.empty()) << state.descriptors.size() << " descriptors open";
        EXPECT_TRUE(temps.list().empty());
        counting = nullptr;
    }
    HFCI create() {
        context = FCICreate(&erf, countPlaced, countAlloc, countFree, countOpen, countRead, countWrite, countClose,
                            countSeek, countDelete, countTemp, &ccab, &state);
        return context;
    }
    BOOL add(const std::string& name, const std::string& bytes, TCOMP type = tcompTYPE_MSZIP) {
        writeFile(dir.file(name), bytes);
        std::string source = dir.file(name);
        return FCIAddFile(context, source.data(), const_cast<char*>(name.c_str()), 0, countNext, countStatus,
                          countOpenInfo, type);
    }
    BOOL flushCabinet() { return FCIFlushCabinet(context, 0, countNext, countStatus); }
    BOOL destroy() {
        BOOL result = FCIDestroy(context);
        context = nullptr;
        return result;
    }
    std::string cabinet() const { return dir.file("t.cab"); }

    Counting state;
    TempDir dir;
    TempDir temps;
    CCAB ccab;
    ERF erf{};
    HFCI context = nullptr;
};

}  // namespace

TEST_F(FciLibrary, EveryBlockAndFileGoesThroughTheCallbacks) {
    ASSERT_NE(create(), nullptr);
    std::string text = textBytes(200000);
    ASSERT_TRUE(add("a.txt", text));
    ASSERT_TRUE(add("b.bin", randomBytes(40000, 1)));
    ASSERT_TRUE(FCIFlushFolder(context, countNext, countStatus));
    ASSERT_TRUE(add("c.txt", "small"));
    ASSERT_TRUE(flushCabinet());
    EXPECT_GT(state.allocations, 0);
    EXPECT_EQ(state.tempNames.size(), 2u);
    EXPECT_TRUE(destroy());
    EXPECT_EQ(state.deleted, state.tempNames);  // temporary files deleted through the callback
    EXPECT_EQ(state.placed, (std::vector<std::string>{"a.txt", "b.bin", "c.txt"}));
    EXPECT_NE(std::find(state.statusKinds.begin(), state.statusKinds.end(), statusFile), state.statusKinds.end());
    EXPECT_NE(std::find(state.statusKinds.begin(), state.statusKinds.end(), statusFolder), state.statusKinds.end());
    EXPECT_NE(std::find(state.statusKinds.begin(), state.statusKinds.end(), statusCabinet), state.statusKinds.end());

    Layout layout = readLayout(cabinet());
    ASSERT_TRUE(layout.valid);
    EXPECT_EQ(layout.folders, 2);
    EXPECT_EQ(layout.setId, 12345);
    ASSERT_EQ(layout.entries.size(), 3u);
    EXPECT_EQ(layout.entries[1].folderOffset, 200000u);
    EXPECT_EQ(layout.entries[2].folder, 1);
    EXPECT_EQ(layout.entries[0].date, 0x5A8B);
    EXPECT_EQ(layout.entries[0].time, 0x73C5);
    EXPECT_EQ(layout.entries[0].attributes, 0x21);
    EXPECT_EQ(layout.blocksPerFolder[0], (200000 + 40000 + 32767) / 32768);
    expectReadersAccept(cabinet(), {"a.txt", "b.bin", "c.txt"});
    expectContentsMatch(cabinet(), dir.path(), {"a.txt", "b.bin", "c.txt"});
    std::string out;
    run("cabextract -l " + shellQuoted(cabinet()), &out);
    EXPECT_NE(out.find("11.04.2025 14:30:10"), std::string::npos) << out;
}

TEST(FciLibraryImports, NoHeapOrFileCallsOfItsOwn) {
    // What the library could call behind the callbacks' back: none of it is
    // imported (zlib gets the allocation callback as its allocator).
    std::string out;
    ASSERT_EQ(run("nm -D --undefined-only " + shellQuoted(testing_support::buildPath("libCABINET.so")), &out), 0);
    for (const char* name : {"malloc", "calloc", "realloc", "free", "open", "open64", "fopen", "read", "write",
                             "close", "lseek", "lseek64", "unlink", "remove", "mkstemp", "tmpnam", "tempnam"}) {
        std::string plain = " ";
        plain += name;
        std::string versioned = plain;
        plain += '\n';
        versioned += '@';
        EXPECT_EQ(out.find(plain), std::string::npos) << name;
        EXPECT_EQ(out.find(versioned), std::string::npos) << name;
    }
}

TEST_F(FciLibrary, EmptyFolderFlushesWriteNoFolder) {
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(FCIFlushFolder(context, countNext, countStatus));
    ASSERT_TRUE(add("a", "one"));
    ASSERT_TRUE(FCIFlushFolder(context, countNext, countStatus));
    ASSERT_TRUE(FCIFlushFolder(context, countNext, countStatus));
    ASSERT_TRUE(add("b", "two"));
    ASSERT_TRUE(flushCabinet());
    Layout layout = readLayout(cabinet());
    EXPECT_EQ(layout.folders, 2);
    EXPECT_EQ(layout.entries[1].folder, 1);
    expectReadersAccept(cabinet(), {"a", "b"});
}

TEST_F(FciLibrary, NoFilesGiveAHeaderOnlyCabinet) {
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(flushCabinet());
    Layout layout = readLayout(cabinet());
    ASSERT_TRUE(layout.valid);
    EXPECT_EQ(layout.cabinetSize, 36u);
    EXPECT_EQ(layout.folders, 0);
    EXPECT_EQ(layout.files, 0);
    std::string out;
    EXPECT_EQ(run("gcab -l " + shellQuoted(cabinet()), &out), 0) << out;
    EXPECT_EQ(out, "");
    // cabextract refuses a cabinet without files; the format allows it.
    EXPECT_NE(run("cabextract -t " + shellQuoted(cabinet()), &out), 0);
    EXPECT_NE(out.find("no valid cabinets found"), std::string::npos) << out;
}

TEST_F(FciLibrary, HistoryCarriesAcrossBlocksWithinAFolder) {
    // The same 20000 bytes three times: the repeats straddle a block boundary
    // and only compress when the history crosses it.
    std::string piece = randomBytes(20000, 3);
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(add("r", piece + piece + piece));
    ASSERT_TRUE(flushCabinet());
    Layout layout = readLayout(cabinet());
    EXPECT_EQ(layout.blocksPerFolder[0], 2);
    EXPECT_LT(readFile(cabinet()).size(), 21000u);
    expectContentsMatch(cabinet(), dir.path(), {"r"});
}

TEST_F(FciLibrary, StoredFoldersAndReservedSpace) {
    ccab.cbReserveCFHeader = 20;
    ccab.cbReserveCFFolder = 4;
    ccab.cbReserveCFData = 8;
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(add("plain", textBytes(50000), tcompTYPE_NONE));
    ASSERT_TRUE(add("zipped", textBytes(50000)));  // another compression: another folder
    ASSERT_TRUE(flushCabinet());
    Layout layout = readLayout(cabinet());
    EXPECT_EQ(layout.flags & 4, 4);
    EXPECT_EQ(layout.compression, (std::vector<std::uint16_t>{0, 1}));
    expectReadersAccept(cabinet(), {"plain", "zipped"});
    expectContentsMatch(cabinet(), dir.path(), {"plain", "zipped"});
}

TEST_F(FciLibrary, FolderThresholdStartsNewFolders) {
    ccab.cbFolderThresh = 1000;
    ASSERT_NE(create(), nullptr);
    for (const char* name : {"x1", "x2", "x3"}) ASSERT_TRUE(add(name, randomBytes(40000, name[1])));
    ASSERT_TRUE(flushCabinet());
    EXPECT_EQ(readLayout(cabinet()).folders, 3);
    expectReadersAccept(cabinet(), {"x1", "x2", "x3"});
}

TEST_F(FciLibrary, ErrorCodes) {
    ASSERT_NE(create(), nullptr);
    std::string missing = dir.file("missing");
    EXPECT_FALSE(FCIAddFile(context, missing.data(), const_cast<char*>("missing"), 0, countNext, countStatus,
                            countOpenInfo, tcompTYPE_MSZIP));
    EXPECT_EQ(erf.erfOper, FCIERR_OPEN_SRC);
    EXPECT_EQ(erf.erfType, ENOENT);
    EXPECT_TRUE(erf.fError);
    // A failed context keeps failing, and writes no cabinet.
    EXPECT_FALSE(add("a", "x"));
    EXPECT_FALSE(flushCabinet());
    EXPECT_EQ(erf.erfOper, FCIERR_OPEN_SRC);
    EXPECT_FALSE(fileExists(cabinet()));
}

TEST_F(FciLibrary, UnknownCompressionType) {
    ASSERT_NE(create(), nullptr);
    EXPECT_FALSE(add("a", "x", tcompTYPE_LZX));
    EXPECT_EQ(erf.erfOper, FCIERR_BAD_COMPR_TYPE);
}

TEST_F(FciLibrary, FailingReadOfASource) {
    ASSERT_NE(create(), nullptr);
    writeFile(dir.file("a"), "contents");
    // The source is the next descriptor the system hands out.
    int probe = open("/dev/null", O_RDONLY);
    close(probe);
    state.failReadOf = probe;
    std::string source = dir.file("a");
    EXPECT_FALSE(FCIAddFile(context, source.data(), const_cast<char*>("a"), 0, countNext, countStatus, countOpenInfo,
                            tcompTYPE_MSZIP));
    EXPECT_EQ(erf.erfOper, FCIERR_READ_SRC);
    EXPECT_EQ(erf.erfType, EIO);
}

TEST_F(FciLibrary, CallbacksThatAskToAbort) {
    ASSERT_NE(create(), nullptr);
    state.placedAnswer = -1;
    EXPECT_FALSE(add("a", "x"));
    EXPECT_EQ(erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_TRUE(destroy());
    state.placedAnswer = 0;
    state.statusAnswer = -1;
    ASSERT_NE(create(), nullptr);
    EXPECT_FALSE(add("b", textBytes(40000)));
    EXPECT_EQ(erf.erfOper, FCIERR_USER_ABORT);
}

TEST_F(FciLibrary, IncompressibleBlocksFailOnlyWhenAsked) {
    ccab.fFailOnIncompressible = 1;
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(add("t", textBytes(40000)));  // its first block compresses
    EXPECT_FALSE(add("r", randomBytes(70000, 9)));
    EXPECT_EQ(erf.erfOper, FCIERR_MCI_FAIL);
}

TEST_F(FciLibrary, FormatLimits) {
    ASSERT_NE(create(), nullptr);
    // Readers take names of at most 255 bytes.
    writeFile(dir.file("short"), "x");
    std::string source = dir.file("short");
    std::string longName(256, 'n');
    EXPECT_FALSE(FCIAddFile(context, source.data(), longName.data(), 0, countNext, countStatus, countOpenInfo,
                            tcompTYPE_MSZIP));
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    EXPECT_TRUE(destroy());

    // A file larger than a folder can hold (65535 blocks of 32768 bytes):
    // refused before a byte is read.
    ASSERT_NE(create(), nullptr);
    std::string huge = dir.file("huge");
    int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(ftruncate(fd, 65535LL * 32768 + 1), 0);
    close(fd);
    long readsBefore = state.reads;
    EXPECT_FALSE(FCIAddFile(context, huge.data(), const_cast<char*>("huge"), 0, countNext, countStatus,
                            countOpenInfo, tcompTYPE_MSZIP));
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    EXPECT_EQ(state.reads, readsBefore);
    EXPECT_TRUE(destroy());
    EXPECT_FALSE(fileExists(cabinet()));

    // A cabinet larger than its limit: no spanning, so a failure.
    ccab.cb = 1000;
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(add("r", randomBytes(5000, 4)));
    EXPECT_FALSE(flushCabinet());
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    EXPECT_FALSE(fileExists(cabinet()));
}

TEST_F(FciLibrary, EveryFailingAllocationIsReported) {
    // Count the allocations of a whole run, then fail each in turn.
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(add("a", textBytes(70000)));
    ASSERT_TRUE(FCIFlushFolder(context, countNext, countStatus));
    ASSERT_TRUE(add("b", "b"));
    ASSERT_TRUE(flushCabinet());
    ASSERT_TRUE(destroy());
    long total = state.allocations;
    ASSERT_GT(total, 3);
    for (long nth = 1; nth <= total; ++nth) {
        SCOPED_TRACE(nth);
        unlink(cabinet().c_str());
        state.allocations = 0;
        state.failAllocAt = nth;
        bool ok = create() != nullptr && add("a", textBytes(70000)) && FCIFlushFolder(context, countNext, countStatus) &&
                  add("b", "b") && flushCabinet();
        EXPECT_FALSE(ok);
        EXPECT_EQ(erf.erfOper, FCIERR_ALLOC_FAIL);
        EXPECT_FALSE(fileExists(cabinet()));
        if (context != nullptr) {
            EXPECT_TRUE(destroy());
        }
        EXPECT_TRUE(state.blocks.empty());
        EXPECT_TRUE(temps.list().empty());
    }
}

TEST_F(FciLibrary, EveryFailingWriteLeavesNoCabinet) {
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(add("a", textBytes(100000)));
    ASSERT_TRUE(add("b", randomBytes(3000, 5)));
    ASSERT_TRUE(flushCabinet());
    ASSERT_TRUE(destroy());
    long total = state.writes;
    ASSERT_GT(total, 4);
    for (long nth = 1; nth <= total; ++nth) {
        SCOPED_TRACE(nth);
        unlink(cabinet().c_str());
        state.writes = 0;
        state.failWriteAt = nth;
        state.deleted.clear();
        ASSERT_NE(create(), nullptr);
        bool ok = add("a", textBytes(100000)) && add("b", randomBytes(3000, 5)) && flushCabinet();
        EXPECT_FALSE(ok);
        EXPECT_TRUE(erf.erfOper == FCIERR_TEMP_FILE || erf.erfOper == FCIERR_CAB_FILE) << erf.erfOper;
        EXPECT_EQ(erf.erfType, ENOSPC);
        EXPECT_FALSE(fileExists(cabinet()));
        if (erf.erfOper == FCIERR_CAB_FILE) {
            EXPECT_TRUE(state.deleted.count(cabinet()));
        }
        EXPECT_TRUE(destroy());
    }
}

TEST_F(FciLibrary, TemporaryFileFailures) {
    state.failTemp = true;
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(erf.erfOper, FCIERR_TEMP_FILE);
    state.failTemp = false;
    state.tempDir = dir.path() + "/no/such/folder";
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(erf.erfOper, FCIERR_TEMP_FILE);
    EXPECT_EQ(erf.erfType, ENOENT);
}

TEST_F(FciLibrary, CabinetThatCannotBeCreated) {
    std::string path = dir.path() + "/no/such/";
    std::memcpy(ccab.szCabPath, path.c_str(), path.size() + 1);
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(add("a", "x"));
    EXPECT_FALSE(flushCabinet());
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FILE);
    EXPECT_EQ(erf.erfType, ENOENT);
}

TEST_F(FciLibrary, DestroyRefusesWhatIsNoContext) {
    int notAContext[64] = {};
    EXPECT_FALSE(FCIDestroy(nullptr));
    EXPECT_FALSE(FCIDestroy(notAContext));
}
