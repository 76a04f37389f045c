// zkexport.exe as people run it on Windows: names with drive letters, backslashes, the
// extended-length prefix and letters beyond ASCII; the NUL device; a file that another program
// holds open (a CSV still open in a spreadsheet); and Ctrl-C.
#include <gtest/gtest.h>
#include <windows.h>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/output/paths.hpp"

namespace zk {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// What the engine writes for a recording with the default settings.
std::string engineCsv(const std::string& bytes) {
    MemorySource source(test::bytesOf(bytes));
    StringSink sink;
    EXPECT_TRUE(exportCsv(source, sink, ExportOptions{}).ok());
    return sink.text();
}

class WindowsNames : public ::testing::Test {
  protected:
    // The scratch folder as a Windows name, "C:\users\...\zk_test.N", with "@" standing for it.
    std::string expand(const std::string& s) const {
        return test::replaced(s, "@", nameOf(dir.path().lexically_normal()));
    }
    test::Finished run(const std::string& line) const {
        return test::runProcess(ZKEXPORT_PATH, test::words(expand(line), "@"));
    }
    test::TempDir dir;
    const std::string five = test::steadyRecording(5);
};

TEST_F(WindowsNames, TheProgramWritesWhereTheNameSaysAndReadsNamesBeyondAscii) {
    const std::string csv = engineCsv(five);
    const std::pair<std::string, std::string> cases[] = {
        // the command line ("~": a space within a word); the file it writes
        {"@\\run1.zkd", "@\\run1.csv"},
        {"@/mixed.zkd", "@\\mixed.csv"},
        {"\\\\?\\@\\long.zkd", "@\\long.csv"},
        {"-d @\\out @\\run1.zkd", "@\\out\\run1.csv"},
        {"-d @\\out\\ @\\mixed.zkd", "@\\out\\mixed.csv"},
        {"@\\Messung~ä€.zkd", "@\\Messung ä€.csv"},
        {"-o @\\Ergebnis~ö.csv @\\run1.zkd", "@\\Ergebnis ö.csv"},
    };
    fs::create_directory(dir.path() / "out");
    for (const char* name : {"run1.zkd", "mixed.zkd", "long.zkd", "Messung ä€.zkd"}) {
        writeFile(dir.path() / pathOf(name), five);
    }
    for (const auto& [line, output] : cases) {
        const test::Finished f = run("-q " + line);
        EXPECT_EQ(std::pair(f.status, f.err), std::pair(0, std::string())) << line;
        EXPECT_EQ(readFile(pathOf(expand(output))), csv) << line;
        fs::remove(pathOf(expand(output)));
    }
    // No shell expands "*.zkd" on Windows: the program does, and converts each.
    EXPECT_EQ(run("-q @\\*.zkd").status, 0);
    for (const char* output : {"run1.csv", "mixed.csv", "long.csv", "Messung ä€.csv"}) {
        EXPECT_EQ(readFile(dir.path() / pathOf(output)), csv) << output;
    }
    // What --info prints of a name is its UTF-8 bytes, whatever the console's code page.
    const test::Finished info = run("--info @\\Messung~ä€.zkd");
    EXPECT_NE(info.out.find(expand("@\\Messung ä€.zkd")), std::string::npos) << info.out;
}

TEST_F(WindowsNames, NulTakesTheOutputAndNothingIsWritten) {
    writeFile(dir.path() / "run1.zkd", five);
    const auto before = test::listing(dir.path());
    for (const char* line :
         {"-f -o NUL @\\run1.zkd", "-f -o nul @\\run1.zkd", "-f --format edf -o NUL @\\run1.zkd",
          "-f -o \\\\.\\NUL @\\run1.zkd"}) {
        const test::Finished f = run(line);
        EXPECT_EQ(std::pair(f.status, f.err), std::pair(0, std::string())) << line;
    }
    const test::Finished refused = run("-o NUL @\\run1.zkd");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("NUL: exists already (a device or a pipe)"), std::string::npos)
        << refused.err;
    EXPECT_EQ(test::listing(dir.path()), before);
}

// A spreadsheet holds the CSV it shows open and lets nobody replace it: the export says so, by
// name, and the file stays as it was, with nothing left beside it.
TEST_F(WindowsNames, AnOutputHeldOpenByAnotherProgramIsReportedAndKept) {
    writeFile(dir.path() / "run1.zkd", five);
    for (const char* format : {"csv", "xlsx"}) {
        const std::string name = std::string("held.") + format;
        writeFile(dir.path() / name, "earlier");
        const auto before = test::listing(dir.path());
        const HANDLE held = CreateFileW((dir.path() / name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const test::Finished f = run("-f -o @\\" + name + " @\\run1.zkd");
        CloseHandle(held);
        EXPECT_EQ(f.status, 1) << format;
        EXPECT_EQ(f.err, expand("zkexport: @\\" + name +
                                ": cannot save the output file: The file is open in another "
                                "program; close it there and try again\n"));
        EXPECT_EQ(readFile(dir.path() / name), "earlier") << format;
        EXPECT_EQ(test::listing(dir.path()), before) << format;
    }
}

// Ctrl-C in the console stops the export under way: the program ends with 130 and leaves
// nothing behind, neither the workbook nor its temporary files.
TEST_F(WindowsNames, CtrlCStopsTheExportAndLeavesNoFile) {
    // A workbook of a million rows takes seconds to write: time enough to see it under way.
    writeFile(dir.path() / "long.zkd", test::steadyRecording(1'000'000));
    const auto before = test::listing(dir.path());
    // The console that Ctrl-C is given in: the test's own, which lets it pass.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    const PHANDLER_ROUTINE ignore = [](DWORD) -> BOOL { return TRUE; };
    SetConsoleCtrlHandler(ignore, TRUE);
    std::wstring line = L"\"" + fs::path(ZKEXPORT_PATH).wstring() + L"\" -q -o \"" +
                        (dir.path() / "long.xlsx").wstring() + L"\" \"" +
                        (dir.path() / "long.zkd").wstring() + L"\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &start, &process));
    // Under way once a file beside the recording appears.
    for (int waited = 0; waited < 30'000 && test::listing(dir.path()) == before; waited += 10) {
        Sleep(10);
    }
    EXPECT_NE(test::listing(dir.path()), before) << "the export never started";
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, test::kChildSeconds * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    SetConsoleCtrlHandler(ignore, FALSE);
    EXPECT_EQ(status, 130U);
    EXPECT_EQ(test::listing(dir.path()), before);
}

}  // namespace
}  // namespace zk
