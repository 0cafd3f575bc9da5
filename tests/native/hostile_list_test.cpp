// Damaged and hostile list files: the restore neither crashes, hangs,
// reaches outside its folders, nor reports a failure as a success.
#include "cache/restore.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

const std::wstring sys = L"C:\\WINDOWS\\system32\\";
const std::wstring cacheDir = L"C:\\WINDOWS\\system32\\dllcache";
const std::wstring listPath = L"D:\\tools\\filelist.kdl";

// Lines made up as they are read: a list far larger than anything held.
class GeneratedList : public platform::ByteReader {
  public:
    GeneratedList(std::size_t lines, std::string line) : left_(lines), line_(std::move(line)) {}
    platform::ErrorCode read(char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        while (left_ > 0 && capacity - got >= line_.size()) {
            std::copy(line_.begin(), line_.end(), buffer + got);
            got += line_.size();
            --left_;
        }
        return 0;
    }

  private:
    std::size_t left_;
    std::string line_;
};

class Services : public fake::Services {
  public:
    std::size_t generatedLines = 0;
    platform::ErrorCode openRead(const std::wstring& path,
                                 std::unique_ptr<platform::ByteReader>& reader) override {
        if (generatedLines == 0) return fake::Services::openRead(path, reader);
        reader = std::make_unique<GeneratedList>(generatedLines, "ok.dll\r\n");
        return 0;
    }
    // With a generated list, the file system is made trivial so that only
    // the reading is at scale.
    std::size_t copied = 0;
    platform::Attributes attributes(const std::wstring& path) override {
        if (generatedLines == 0) return fake::Services::attributes(path);
        platform::Attributes a;
        a.exists = true;
        a.directory = path == cacheDir;
        return a;
    }
    struct NoCopy : platform::OpenCopy {
        std::uint64_t size() const override { return 0; }
        std::uint32_t volumeSerial() const override { return 1; }
        platform::ErrorCode flush() override { return 0; }
        platform::ErrorCode moveTo(const std::wstring&) override { return 0; }
        platform::ErrorCode discard() override { return 0; }
    };
    platform::ErrorCode copyFile(const std::wstring& from, platform::Folder& folder,
                                 const std::wstring& name,
                                 std::unique_ptr<platform::OpenCopy>& copy,
                                 platform::CopySide& side) override {
        if (generatedLines == 0) return fake::Services::copyFile(from, folder, name, copy, side);
        ++copied;
        copy = std::make_unique<NoCopy>();
        return 0;
    }
};

struct HostileList : ::testing::Test {
    Services services;
    fake::Window window;
    cache::DirList Dir1{services};

    void SetUp() override {
        services.addDir(cacheDir);
        services.addFile(sys + L"ok.dll", "ok");
        services.addFile(L"C:\\x.dll", "outside");
    }
    void run(const std::string& bytes) {
        services.addFile(listPath, bytes);
        cache::runRestore(services, window, Dir1);
    }
    const std::wstring& result() { return window.boxes.back().text; }
    // Only the one good name was ever copied, and only into the cache.
    void expectOnlyOkCopied(std::size_t times = 1) {
        EXPECT_EQ(services.copies,
                  std::vector<std::wstring>(times, sys + L"ok.dll -> " + cacheDir + L"\\ok.dll"));
    }
};

TEST_F(HostileList, TraversalAbsoluteAndDeviceEntries) {
    run("..\\..\\x.dll\r\nC:\\x.dll\r\n\\\\host\\share\\x.dll\r\na/b.dll\r\nCON\r\nAUX.dll\r\n"
        "ok.dll\r\n");
    expectOnlyOkCopied();
    EXPECT_EQ(result(), L"DllCache(1) Restored Successfully");
}

TEST_F(HostileList, AOneMegabyteLineIsSkipped) {
    run(std::string(1 << 20, 'a') + "\r\nok.dll\r\n");
    expectOnlyOkCopied();
    EXPECT_EQ(window.progress.size(), 2u);
}

TEST_F(HostileList, InvalidDoubleByteSequencesAreSkipped) {
    run("\x81\x20\xFF\xFE\x80.dll\r\n\x81\r\nok.dll\r\n");
    expectOnlyOkCopied();
}

// UTF-16 lists (Notepad's "Unicode", either byte order) and anything
// holding NUL bytes are refused whole before anything changes; a UTF-8
// byte-order mark is passed over.
TEST_F(HostileList, ListsThatAreNotAnsiTextAreRefusedWhole) {
    const std::string utf16 = std::string("\xFF\xFEo\0k\0.\0d\0l\0l\0\r\0\n\0", 18);
    // The marks alone refuse a list too: 中文 in either order holds no NUL.
    for (const std::string& bytes :
         {utf16, std::string("\xFE\xFF\0o\0k", 6), std::string("ok.dll\r\nok\0.dll\r\n", 16),
          std::string("\xFE\xFF\x4E\x2D\x65\x87"), std::string("\xFF\xFE\x2D\x4E\x87\x65")}) {
        services.nodes.erase(cacheDir);
        window.boxes.clear();
        services.readChunk = 1; // the mark and the NUL found across reads too
        run(bytes);
        ASSERT_EQ(window.boxes.size(), 2u);
        EXPECT_EQ(result().find(L"备份列表不是以系统代码页保存的文本列表"), 0u);
        EXPECT_EQ(window.boxes.back().icon, cache::Icon::Exclamation);
        EXPECT_FALSE(services.has(cacheDir));
        EXPECT_TRUE(window.restoreEnabled);
        EXPECT_FALSE(window.busy);
    }
    EXPECT_TRUE(services.copies.empty());
    services.readChunk = 1 << 16;
    services.addDir(cacheDir);
    run("\xEF\xBB\xBFok.dll\r\nok.dll\r\n");
    expectOnlyOkCopied(2);
}

TEST_F(HostileList, OnlyLineEndsOrNothingAtAll) {
    run(std::string(1000, '\n'));
    EXPECT_EQ(result(), L"DllCache(0) Restored Successfully");
    run("");
    EXPECT_EQ(result(), L"DllCache(0) Restored Successfully");
    run("\r\n\r\n\r\n");
    EXPECT_EQ(result(), L"DllCache(0) Restored Successfully");
    EXPECT_TRUE(services.copies.empty());
}

TEST_F(HostileList, AMillionLinesAreStreamedAndAllCounted) {
    services.generatedLines = 1000000;
    run("placeholder\r\n");
    EXPECT_EQ(result(), L"DllCache(1000000) Restored Successfully");
    EXPECT_EQ(services.copied, 1000000u);
}

TEST_F(HostileList, MissingSourceFoldersFindNothingAndFailNothing) {
    // No 16-bit, drivers or program-files folder on this system, and a
    // file where the 16-bit folder would be.
    services.nodes.erase(sys + L"ok.dll");
    services.addFile(L"C:\\WINDOWS\\system", "not a folder");
    run("ok.dll\r\nother.dll\r\n");
    EXPECT_EQ(result(), L"DllCache(0) Restored Successfully");
    EXPECT_TRUE(services.copies.empty());
}

} // namespace
