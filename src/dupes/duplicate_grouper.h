#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results/result_list.h"
#include "view/view.h"

namespace quelvane {

// "重复文件第" + n + "组"
std::string GroupLabel(int number);

// The digest one candidate ended with, by row identity.
struct RowDigest {
  RowId id = 0;
  std::string digest;  // 32 lower-case hex characters
};

// On the owning thread, once every candidate has ended: writes each digest into ColDigest of
// its row (found by identity), writes "无" into ColDupState of every row in no_digest, sorts the
// list by ColDigest descending (stable; rows with a digest above rows without), labels each run
// of two or more equal digests "重复文件第N组" (N = 1, 2, ... from the top) with red text in
// columns 1 to 7, gives a digest that matches nothing "无", and renumbers ColSeq 1..n.
// Returns the number of groups.
int GroupDuplicates(ResultList& list, const std::vector<RowDigest>& digests,
                    const std::vector<RowId>& no_digest);

// Writes ColSeq 1..n from the top.
void RenumberRows(ResultList& list);

// The closing texts of a pass that hashed candidates: progress bar full (the progress range
// is 0..candidates + 3), "任务完成！" in pane 0, the summary label and the message with the
// group count, the find button back.
void ShowGroupedFinish(ResultList& list, View& view, int64_t candidates, int groups);

// The closing of a find where no row has a candidate: ColSeq renumbered, the "no duplicates"
// summary and message, the find button back.
void FinishWithoutCandidates(ResultList& list, View& view);

// The texts of both endings.
std::string GroupedSummary(int rows, int groups);
std::string NoDuplicatesSummary(int rows);

}  // namespace quelvane
