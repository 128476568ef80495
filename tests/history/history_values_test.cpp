// A record's page images read with the definition: the parameters a job changed, and the values
// taken into the Edit column; the model's own images stay bound and unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "definitions/cell_text.h"
#include "definitions/loader.h"
#include "history/history_values.h"

namespace lumo {
namespace {

constexpr int kTg5 = 1;

class HistoryValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(std::string(LUMO_EXAMPLES_DIR) + "/TG5.txt", std::ios::binary);
    def_ = ParseDefinitionFile(in);
    ASSERT_NE(def_, nullptr);
    for (PVar& r : def_->records)
      if (!r.bracketed && !r.constant && r.mask != 0 && r.states.size() >= 2) {
        record_ = &r;
        break;
      }
    ASSERT_NE(record_, nullptr);
    job_.deviceType = kTg5;
    job_.pagesBefore.assign(kHistoryPageBytes, 0);
    job_.pagesAfter = job_.pagesBefore;
    job_.pagesAfter[record_->page * 256 + record_->offset] ^= record_->mask;
    std::memset(&Images().device, 0x5A, sizeof(PageImage));
  }
  std::unique_ptr<ParDef> def_;
  PVar* record_ = nullptr;
  HistoryRecord job_;
};

TEST_F(HistoryValuesTest, ChangedParametersAreNamedAsTheTableNamesThem) {
  auto names = ChangedParameterNames(def_.get(), kTg5, job_);
  ASSERT_FALSE(names.empty());
  EXPECT_NE(
      std::find(names.begin(), names.end(), WithoutHotkeyMarks(NameCellText(def_.get(), record_))),
      names.end());
  job_.pagesAfter = job_.pagesBefore;  // nothing changed
  EXPECT_TRUE(ChangedParameterNames(def_.get(), kTg5, job_).empty());
  EXPECT_EQ(Images().device.bytes[0][0], 0x5A);  // the model's images are bound again
}

TEST_F(HistoryValuesTest, CopyTakesTheAfterValuesOnlyFromAFittingRecord) {
  const int32_t expected = [&] {
    PageImages images{};
    std::memcpy(&images.device.bytes[0][0], job_.pagesAfter.data(), kHistoryPageBytes);
    PageImages* previous = &Images();
    BindImages(&images);
    int32_t value = DeviceValue(record_);
    BindImages(previous);
    return value;
  }();
  ASSERT_TRUE(CopyRecordToEdit(def_.get(), kTg5, job_));
  EXPECT_EQ(record_->editValue, expected);
  EXPECT_EQ(Images().device.bytes[3][7], 0x5A);

  record_->editValue = 12345;
  HistoryRecord other = job_;
  other.deviceType = 2;  // a joystick's record
  EXPECT_FALSE(CopyRecordToEdit(def_.get(), kTg5, other));
  other = job_;
  other.pagesAfter.resize(100);  // no whole image
  EXPECT_FALSE(CopyRecordToEdit(def_.get(), kTg5, other));
  EXPECT_TRUE(ChangedParameterNames(def_.get(), kTg5, other).empty());
  EXPECT_EQ(record_->editValue, 12345);
}

}  // namespace
}  // namespace lumo
