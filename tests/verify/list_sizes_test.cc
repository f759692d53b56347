#include "verify/list_sizes.h"

#include <memory>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

// The totals of a list that crosses the reads every way (lines cut by one,
// a line longer than one, tags in any case, no last line end), scanned a
// read at a time and at once; the reader's position is left as it was.
TEST(ListSizes, AddUpTheFileLinesAcrossReads) {
  ScopedTempDir temp;
  std::string text = "ROOT: \"/x\"\r\nDIR:  \".\\\"\r\n";
  std::uint64_t files = 0, bytes = 5;
  for (; text.size() < 3 * ListScanReadSize; ++files) {
    bytes += files * files * 1000003;
    text += (files % 3 == 0 ? "file: " : "FILE: ") + std::string(32, 'A') + "  " +
            std::to_string(files * files * 1000003) + "  \"" + std::string(files % 300, 'n') + "\"\r\n";
    if (files == 100) text += "DIR:  \"" + std::string(ListScanReadSize + 7, 'd') + "\\\"\r\n";
  }
  WriteTextFile("list.lst", text + "FILE: " + std::string(32, 'A') + "  5  \"last\"");
  for (const int reads : {1, 100}) {
    HANDLE file = OpenForReading("list.lst");
    ReadOnce(file, 100);
    auto sizes = std::make_unique<ListSizes>();
    StartListSizes(sizes.get(), file);
    for (int i = 0; !sizes->done && i < 100; ++i) ASSERT_TRUE(ScanListSizes(sizes.get(), reads));
    EXPECT_EQ(sizes->files, files + 1);
    EXPECT_EQ(sizes->bytes, bytes);
    EXPECT_EQ(FilePosition(file), 100u);
    CloseHandle(file);
  }
}

}  // namespace
