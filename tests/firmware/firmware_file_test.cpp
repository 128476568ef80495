// Firmware image files: the digit-pair scanner, the block reader and the stream reader.
#include "firmware/firmware_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/program_paths.h"
#include "base/translations.h"
#include "platform/message_box.h"
#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using test::TempDir;
using test::WriteFile;

// Scans a whole text with ReadHexByte: the bytes, how it ended and the line counter then.
struct Scan {
  std::vector<uint8_t> bytes;
  HexResult last;
  int64_t line;
};

Scan ScanText(const std::string& text) {
  TempDir dir;
  WriteFile(dir / "f", text);
  int fd = ::open((dir / "f").c_str(), O_RDONLY);
  HexReader reader(fd);
  Scan scan{{}, HexResult::End, 0};
  uint8_t byte = 0;
  while ((scan.last = ReadHexByte(reader, byte)) == HexResult::Byte) scan.bytes.push_back(byte);
  scan.line = reader.Line();
  ::close(fd);
  return scan;
}

void ExpectBytes(const std::string& text, const std::vector<uint8_t>& bytes) {
  Scan scan = ScanText(text);
  EXPECT_EQ(scan.last, HexResult::End) << text;
  EXPECT_EQ(scan.bytes, bytes) << text;
}

void ExpectInvalidAtLine(const std::string& text, int64_t line) {
  Scan scan = ScanText(text);
  EXPECT_EQ(scan.last, HexResult::Invalid) << text;
  EXPECT_EQ(scan.line, line) << text;
}

TEST(ReadHexByteTest, DigitPairsWithAndWithoutSeparators) {
  ExpectBytes("1F", {0x1F});
  ExpectBytes("1f2E", {0x1F, 0x2E});
  ExpectBytes("A B", {0xAB});
  ExpectBytes(
      "A\t\x01"
      "B",
      {0xAB});
  ExpectBytes("00 ff\r\n10", {0x00, 0xFF, 0x10});
  ExpectBytes("7\n", {0x07});
  ExpectBytes("7\r\n12", {0x07, 0x12});
  ExpectBytes("", {});
  ExpectBytes(" \r\n\t", {});
}

TEST(ReadHexByteTest, SingleDigitAtTheEndIsAByteOfItsOwn) {
  ExpectBytes("12 7", {0x12, 0x07});
}

TEST(ReadHexByteTest, InvalidCharactersAndTheirLine) {
  ExpectInvalidAtLine("G", 1);
  ExpectInvalidAtLine("12\n:1000", 2);
  ExpectInvalidAtLine("1\xC3", 1);
  // CR LF, LF CR, a lone CR and a lone LF are one line end each.
  ExpectInvalidAtLine("00\r\n11\n\r22\r33\n:", 5);
  ExpectInvalidAtLine("\r\r\n\n\r:", 4);
  ExpectInvalidAtLine("\n \n:", 3);
  // A single-digit byte before CR LF: the pair still counts once.
  ExpectInvalidAtLine("7\r\n:", 2);
  ExpectInvalidAtLine("7\n\r8\r\n:", 3);
}

class FirmwareFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SelectLanguage(kLangEnglish);
    SetApplicationTitle(kApplicationTitle);
  }

  std::string Path(const std::string& name) const { return dir_ / name; }

  // The only message shown so far; "" when none.
  std::string OnlyMessage() {
    auto boxes = messages_.Boxes();
    if (boxes.empty()) return "";
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, MsgKind::Error);
    EXPECT_EQ(boxes[0].caption, kApplicationTitle);
    return boxes[0].text;
  }

  // A block file text: lead byte, then count bytes numbered from 0, 16 pairs a line.
  static std::string BlockText(uint8_t lead, size_t count) {
    std::string text;
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", lead);
    text = std::string(pair) + "\r\n";
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(i & 0xFF));
      text += pair;
      text += (i % 16 == 15) ? "\r\n" : " ";
    }
    return text;
  }

  void ExpectBlockError(const std::string& name, const std::string& text,
                        const std::string& message) {
    WriteFile(Path(name), text);
    FirmwareImage image;
    messages_.Clear();
    EXPECT_EQ(ReadBlockFile(Path(name), image), -1) << name;
    EXPECT_EQ(OnlyMessage(), message) << name;
    EXPECT_TRUE(image.data.empty());
  }

  void ExpectStreamError(const std::string& name, const std::string& bytes,
                         const std::string& message) {
    WriteFile(Path(name), bytes);
    FirmwareImage image;
    messages_.Clear();
    EXPECT_EQ(ReadFirmwareFile(Path(name), image), -1) << name;
    EXPECT_EQ(OnlyMessage(), message) << name;
    EXPECT_EQ(KindOf(image), ImageKind::Empty);
  }

  TempDir dir_;
  MessageRecorder messages_;
  ScopedMessageSink sink_{&messages_};
};

TEST_F(FirmwareFileTest, WholeBlocksAreDecoded) {
  // The lead byte alone is a block image without blocks: empty, not an error.
  WriteFile(Path("lead.tg5"), "1F");
  FirmwareImage lead;
  ASSERT_EQ(ReadBlockFile(Path("lead.tg5"), lead), 1);
  EXPECT_EQ(lead.leadByte, 0x1F);
  EXPECT_EQ(KindOf(lead), ImageKind::Empty);

  WriteFile(Path("two.tg5"), BlockText(0xA5, 2 * kFlashBlockSize));
  FirmwareImage image;
  ASSERT_EQ(ReadBlockFile(Path("two.tg5"), image), 1);
  EXPECT_EQ(image.leadByte, 0xA5);
  EXPECT_EQ(image.blockCount, 2u);
  EXPECT_EQ(image.byteCount, 0u);
  ASSERT_EQ(image.data.size(), 2 * kFlashBlockSize);
  for (size_t i = 0; i < image.data.size(); ++i) ASSERT_EQ(image.data[i], i & 0xFF) << i;
  EXPECT_EQ(KindOf(image), ImageKind::Block);
}

TEST_F(FirmwareFileTest, BlockFileErrorsWithTheirLine) {
  ExpectBlockError("short.tg5", BlockText(1, kFlashBlockSize - 1), "Illegal file length");
  ExpectBlockError("colon.tg5", "00\r\n01 02\r\n:10", "Illegal data in hex file!\nLine: 3");
  ExpectBlockError("nolead.TG5", " \r\n", "Illegal data in hex file!\nLine: 2");
  ExpectBlockError("upper.TG5", "0G", "Illegal data in hex file!\nLine: 1");
  SelectLanguage(kLangGerman);
  ExpectBlockError("de.tg5", "00\nZZ", "Ung\xFCltiges Zeichen in der Hexdatei!\nZeile: 2");
  SelectLanguage(kLangEnglish);
}

TEST_F(FirmwareFileTest, BlockLimitIs1023Blocks) {
  WriteFile(Path("max.tg5"), BlockText(0, kMaxFlashBlocks * kFlashBlockSize));
  FirmwareImage image;
  ASSERT_EQ(ReadBlockFile(Path("max.tg5"), image), 1);
  EXPECT_EQ(image.blockCount, kMaxFlashBlocks);
  // The 1024th block is complete on line 1 + 1024 * 67 / 16 = 4289.
  ExpectBlockError("huge.tg5", BlockText(0, (kMaxFlashBlocks + 1) * kFlashBlockSize),
                   "Hex file too large!\nLine: 4289");
}

TEST_F(FirmwareFileTest, OtherNamesFallBackToTheStreamForm) {
  const std::string text = "00\r\n:1000\r\n";
  for (const char* name : {"colon.bfl", "colon", "dir.tg5/colon"}) {
    if (std::string(name).find('/') != std::string::npos) ::mkdir(Path("dir.tg5").c_str(), 0700);
    WriteFile(Path(name), text);
    FirmwareImage image;
    messages_.Clear();
    EXPECT_EQ(ReadBlockFile(Path(name), image), 0) << name;
    ASSERT_EQ(ReadFirmwareFile(Path(name), image), 1) << name;
    EXPECT_EQ(OnlyMessage(), "") << name;
    EXPECT_EQ(KindOf(image), ImageKind::Stream);
    EXPECT_EQ(std::string(image.data.begin(), image.data.end()), "00\n:1000\n");
    EXPECT_EQ(image.byteCount, 9u);
  }
  // A valid block file keeps its form whatever its name.
  WriteFile(Path("block.bfl"), BlockText(7, kFlashBlockSize));
  FirmwareImage image;
  ASSERT_EQ(ReadFirmwareFile(Path("block.bfl"), image), 1);
  EXPECT_EQ(KindOf(image), ImageKind::Block);
}

TEST_F(FirmwareFileTest, StreamFilesLoseNulAndCarriageReturn) {
  WriteFile(Path("s.bfl"), std::string("a\0b\r\nc\r", 7));
  FirmwareImage image;
  ASSERT_EQ(ReadStreamFile(Path("s.bfl"), image), 1);
  EXPECT_EQ(std::string(image.data.begin(), image.data.end()), "ab\nc");
  EXPECT_EQ(image.byteCount, 4u);
  EXPECT_EQ(image.blockCount, 0u);
}

TEST_F(FirmwareFileTest, StreamFileSizeLimits) {
  std::string largest(kMaxStreamFileSize, 'x');
  largest[0] = '\r';
  WriteFile(Path("max.bfl"), largest);
  FirmwareImage image;
  ASSERT_EQ(ReadStreamFile(Path("max.bfl"), image), 1);
  EXPECT_EQ(image.byteCount, kMaxStreamFileSize - 1);
  ExpectStreamError("over.bfl", std::string(kMaxStreamFileSize + 1, 'x'), "Illegal file length");
  ExpectStreamError("cr.bfl", std::string(100, '\r'), "Illegal file length");
  ExpectStreamError("nul.bfl", std::string(3, '\0'), "Illegal file length");
  ExpectStreamError("empty.bfl", "", "Illegal file length");
}

TEST_F(FirmwareFileTest, FilesThatCannotBeReadAreOpenErrors) {
  ::mkdir(Path("folder.bfl").c_str(), 0700);
  for (const std::string& path :
       {Path("missing.tg5"), Path("missing.bfl"), Path("folder.bfl"), std::string("/dev/zero")}) {
    FirmwareImage image;
    messages_.Clear();
    EXPECT_EQ(ReadFirmwareFile(path, image), -1) << path;
    EXPECT_EQ(OnlyMessage(), "Error opening file") << path;
  }
}

}  // namespace
}  // namespace lumo
