#include "gui/history_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "gui/gui_text.h"

namespace lumo::gui {

namespace {

// Columns of the table.
enum Column { kColTime, kColStation, kColOperator, kColJob, kColOutcome, kColChanged, kColumns };
// column             header message
const char* const kHeaders[kColumns] = {"HIST_COLTIME", "HIST_COLSTATION", "HIST_COLOPERATOR",
                                        "HIST_COLJOB",  "HIST_COLOUTCOME", "HIST_COLCHANGED"};
constexpr int kMinWidthPx = 760;
constexpr int kMinHeightPx = 360;

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

HistoryDialog::HistoryDialog(const QString& unit, std::vector<HistoryRecord> records,
                             const ChangedNames& changed, QWidget* parent)
    : QDialog(parent),
      records_(std::move(records)),
      unit_(this),
      table_(this),
      copy_(Msg("HIST_COPY"), this),
      close_(Msg("HIST_CLOSE"), this) {
  setWindowTitle(Msg("HIST_TITLE"));
  setMinimumSize(kMinWidthPx, kMinHeightPx);
  unit_.setTextFormat(Qt::PlainText);
  unit_.setText(unit);

  table_.setColumnCount(kColumns);
  QStringList headers;
  for (const char* id : kHeaders) headers << Msg(id);
  table_.setHorizontalHeaderLabels(headers);
  table_.setRowCount(static_cast<int>(records_.size()));
  table_.setSelectionBehavior(QAbstractItemView::SelectRows);
  table_.setSelectionMode(QAbstractItemView::SingleSelection);
  table_.setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_.verticalHeader()->hide();
  table_.horizontalHeader()->setStretchLastSection(true);
  for (int row = 0; row < static_cast<int>(records_.size()); ++row) {
    const HistoryRecord& r = records_[static_cast<size_t>(row)];
    QString outcome = QString::fromLatin1(OutcomeText(r.outcome));
    if (!r.reason.empty()) outcome += QStringLiteral(": ") + FromUtf8(r.reason);
    const QString cells[kColumns] = {FromUtf8(r.timeUtc.substr(0, 19)),
                                     FromUtf8(r.station),
                                     FromUtf8(r.operatorName),
                                     QString::fromLatin1(JobText(r.job)),
                                     outcome,
                                     changed ? changed(r) : QString()};
    for (int column = 0; column < kColumns; ++column)
      table_.setItem(row, column, new QTableWidgetItem(cells[column]));
  }
  table_.resizeColumnsToContents();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(&copy_);
  buttons->addWidget(&close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(&unit_);
  layout->addWidget(&table_);
  layout->addLayout(buttons);

  connect(&table_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(&copy_, &QPushButton::clicked, this, [this] {
    chosen_ = table_.currentRow();
    accept();
  });
  connect(&close_, &QPushButton::clicked, this, &QDialog::reject);
  if (!records_.empty()) table_.selectRow(0);
  UpdateButtons();
}

void HistoryDialog::UpdateButtons() {
  const int row = table_.currentRow();
  copy_.setEnabled(row >= 0 && row < static_cast<int>(records_.size()) &&
                   records_[static_cast<size_t>(row)].pagesAfter.size() == kHistoryPageBytes);
}

const HistoryRecord* HistoryDialog::Chosen() const {
  if (result() != QDialog::Accepted || chosen_ < 0 || chosen_ >= static_cast<int>(records_.size()))
    return nullptr;
  return &records_[static_cast<size_t>(chosen_)];
}

}  // namespace lumo::gui
