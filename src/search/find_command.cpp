#include "search/find_command.h"

#include <chrono>

#include "platform/dir_walker.h"
#include "platform/fs_ops.h"
#include "platform/text.h"
#include "search/file_filter.h"

namespace quelvane {
namespace {

constexpr auto kBatchInterval = std::chrono::milliseconds(50);

}  // namespace

struct FindCommand::Batch {
  std::vector<RowData> rows;
  uint64_t examined = 0;
};

FindCommand::FindCommand(ResultList& list, View& view, Dispatcher& dispatcher)
    : m_list(list), m_view(view), m_dispatcher(dispatcher) {}

FindCommand::~FindCommand() {
  *m_alive = false;
  Stop();
  if (m_worker.joinable()) m_worker.join();
}

void FindCommand::Stop() {
  if (m_worker.joinable()) m_worker.request_stop();
}

void FindCommand::Refuse(const std::string& message) {
  m_view.ShowMessage(kMsgInfo, message);
  FindReport report;
  report.refused = true;
  if (m_finished) m_finished(report);
}

void FindCommand::Run(const FilterSettings& settings, HandOff hand_off, Finished finished) {
  if (m_running) return;
  m_hand_off = std::move(hand_off);
  m_finished = std::move(finished);
  m_view.RemoveAllPanes();
  m_view.ShowProgress(false);
  m_list.ClearCellColours();
  const std::string dir = m_view.EditText(kSearchDirEdit);
  if (dir.empty()) {
    Refuse("请添加查找目录！");
    return;
  }
  if (settings.ExtensionList == kExtensionPrompt) {
    Refuse("请在左上角\"筛选设置\"图标进行设置，然后点击\"应用并关闭\"按钮。");
    return;
  }
  if (settings.ExtensionList.empty()) {
    Refuse("请先点击左上方的筛选设置，进行设置！");
    return;
  }
  // A mistyped folder would otherwise read as a find that found nothing.
  if (!IsDirectory(dir)) {
    Refuse("查找目录不存在！");
    return;
  }
  m_running = true;
  m_view.SetButtonCaption(kFindButton, kFindingCaption);
  m_view.SetButtonEnabled(kFindButton, false);
  m_view.SetSummary("");
  m_list.ClearRows();
  m_view.AddPane(" 开始查找：", 100, PaneStyle::NoBorder);
  m_view.AddPane("", kPaneToEnd, PaneStyle::NoBorder);

  if (m_worker.joinable()) m_worker.join();
  const bool show_duplicates = settings.ShowDuplicates;
  m_worker =
      std::jthread([this, dir, settings, show_duplicates, alive = m_alive](std::stop_token stop) {
        FileFilter filter(settings);
        Batch batch;
        auto last = std::chrono::steady_clock::now();
        auto flush = [&] {
          batch.examined = filter.ExaminedCount();
          m_dispatcher.Post([this, alive, b = std::move(batch)]() mutable {
            if (*alive) Deliver(std::move(b));
          });
          batch = Batch{};
          last = std::chrono::steady_clock::now();
        };
        WalkStats stats = WalkDirectory(
            dir,
            [&](const WalkEntry& entry) {
              if (auto row = filter.Examine(entry)) batch.rows.push_back(std::move(*row));
              if (std::chrono::steady_clock::now() - last >= kBatchInterval) flush();
            },
            stop);
        flush();
        FindReport report;
        report.stopped = stats.stopped;
        report.examined = filter.ExaminedCount();
        report.unreadable_dirs = stats.unreadable_dirs;
        m_dispatcher.Post([this, alive, report, show_duplicates]() {
          if (*alive) FinishWalk(report, show_duplicates);
        });
      });
}

void FindCommand::Deliver(Batch batch) {
  int first = m_list.RowCount();
  for (size_t i = 0; i < batch.rows.size(); ++i) {
    batch.rows[i].cells[ColSeq] = ToDecimal(first + static_cast<int64_t>(i) + 1);
  }
  m_list.AppendRows(std::move(batch.rows));
  m_view.SetPaneText(1, ToDecimal(static_cast<int64_t>(batch.examined)));
}

void FindCommand::FinishWalk(const FindReport& walk, bool show_duplicates) {
  FindReport report = walk;
  const int n = m_list.RowCount();
  report.rows = n;
  const std::string count = ToDecimal(n);
  if (report.stopped) {
    m_running = false;
    m_view.SetButtonEnabled(kFindButton, true);
    m_view.SetButtonCaption(kFindButton, kFindCaption);
    if (m_finished) m_finished(report);
    return;
  }
  if (n > 0) {
    m_view.SetCheckBox(kSelectAllBox, true);
    m_list.SetAllChecked(true);
    m_view.RemovePane(1);
    m_view.SetPaneWidth(0, 300);
    m_view.SetPaneText(0, "  查找完成，共找到" + count + "项文件。");
  }
  m_running = false;
  if (show_duplicates && m_hand_off) {
    // The duplicate pass ends the find: it restores the button and shows the final message.
    m_hand_off(report);
    m_list.UnlockRedraw();
    return;
  }
  m_view.SetSummary("共找到" + count + "项文件。");
  m_view.ShowMessage(kMsgInfo, "查找完成，共找到" + count + "项文件。");
  m_view.SetButtonEnabled(kFindButton, true);
  m_view.SetButtonCaption(kFindButton, kFindCaption);
  if (m_finished) m_finished(report);
}

}  // namespace quelvane
