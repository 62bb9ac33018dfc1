// Output files: new, replaced, linked, special, failed and interrupted.
#include "platform/file_io.h"
#include "platform/output_file.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lumarc::platform {
namespace {

namespace fs = std::filesystem;

std::span<const uint8_t> bytes(const std::string& text)
{
    return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

size_t partialFiles(const fs::path& folder)
{
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        n += e.path().filename().string().find(".part-") != std::string::npos ? 1 : 0;
    return n;
}

class Output : public ::testing::Test {
protected:
    fs::path file(const std::string& name) { return m_folder.path() / name; }
    lumarc::testing::TempFolder m_folder;
};

TEST_F(Output, AFileTakesItsNameOnlyWhenComplete)
{
    const auto path = file("page.png");
    std::ofstream(path) << "earlier scan";
    {
        auto out = OutputFile::open(path.string());
        ASSERT_TRUE(out) << out.error().text;
        ASSERT_TRUE(out->write(bytes("half a pa")));
        EXPECT_EQ(*readWholeFile(path), "earlier scan") << "untouched while written";
    } // dropped without commit: a failed run
    EXPECT_EQ(*readWholeFile(path), "earlier scan");
    EXPECT_EQ(partialFiles(m_folder.path()), 0u);

    auto out = OutputFile::open(path.string(), 0600);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->write(bytes("new scan")));
    ASSERT_TRUE(out->commit());
    EXPECT_EQ(*readWholeFile(path), "new scan");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "owner only";
    EXPECT_EQ(partialFiles(m_folder.path()), 0u);
}

TEST_F(Output, ALinkIsWrittenThroughAndStaysALink)
{
    fs::create_directory(file("real"));
    std::ofstream(file("real") / "target.bin") << "old";
    fs::create_symlink("real/target.bin", file("link.bin"));
    auto out = OutputFile::open(file("link.bin").string());
    ASSERT_TRUE(out) << out.error().text;
    ASSERT_TRUE(out->write(bytes("new")));
    ASSERT_TRUE(out->commit());
    EXPECT_TRUE(fs::is_symlink(file("link.bin")));
    EXPECT_EQ(*readWholeFile(file("real") / "target.bin"), "new");
}

TEST_F(Output, SpecialFilesAreWrittenStraightIntoNeverReplaced)
{
    auto null = OutputFile::open("/dev/null");
    ASSERT_TRUE(null);
    ASSERT_TRUE(null->write(bytes("anything")));
    ASSERT_TRUE(null->commit());
    EXPECT_TRUE(fs::is_character_file("/dev/null")) << "still the device";

    const auto fifo = file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = *readWholeFile(fifo); });
    {
        auto out = OutputFile::open(fifo.string());
        ASSERT_TRUE(out) << out.error().text;
        ASSERT_TRUE(out->write(bytes("through the pipe")));
        ASSERT_TRUE(out->commit());
    }
    reader.join();
    EXPECT_EQ(got, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));

    auto standard = OutputFile::open("-");
    ASSERT_TRUE(standard);
    EXPECT_TRUE(standard->isStandardOutput());
    EXPECT_EQ(standard->fd(), STDOUT_FILENO);
}

TEST_F(Output, FailuresNameThePathAndTheSystemsReason)
{
    const struct {
        std::string path;
        const char* reason;
    } rows[] = {
        {file("no-such-folder/x.png").string(), "No such file or directory"},
        {m_folder.path().string(), "Is a directory"},
        {"", "no output file named"},
    };
    for (const auto& row : rows) {
        auto out = OutputFile::open(row.path);
        ASSERT_FALSE(out) << row.path;
        EXPECT_NE(out.error().text.find(row.reason), std::string::npos) << out.error().text;
        EXPECT_NE(out.error().text.find(row.path), std::string::npos) << out.error().text;
    }
}

TEST_F(Output, AnInterruptedProgramLeavesNoPartialFile)
{
    const auto path = file("scan.png");
    std::ofstream(path) << "earlier";
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = ::fork();
        if (child == 0) {
            removePartialFilesOnSignals();
            auto out = OutputFile::open(path.string());
            (void)out->write(bytes("partial"));
            ::raise(signal);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "ends as the signal would";
        EXPECT_EQ(partialFiles(m_folder.path()), 0u) << "signal " << signal;
        EXPECT_EQ(*readWholeFile(path), "earlier");
    }
}

} // namespace
} // namespace lumarc::platform
