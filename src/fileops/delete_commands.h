#pragma once
// The three delete commands. Each deletion first checks that the path still names the very
// file the row was found as (a regular file with the row's device and inode); anything else is
// left alone and counted. The rows themselves are left as they are.
// A deletion also wants the row's byte count, so that a new file that inherited the inode
// number of a deleted one is not taken for it.

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_facts.h"
#include "platform/fs_ops.h"
#include "results/result_list.h"
#include "view/view.h"

namespace quelvane {

struct DeleteReport {
  bool confirmed = false;  // false when the user cancelled (or there was nothing to ask about)
  int listed = 0;          // files the command set out to delete
  int deleted = 0;
  int failed = 0;  // listed but not deleted: changed, gone, or refused by the system
  std::vector<PathError> failures;
};

struct DeleteStep {
  std::string path;
  FileIdentity identity;  // the row's device and inode
  uint64_t bytes = 0;     // the row's byte count
  std::string kept;       // delete-duplicates: the file of the group that stays; else empty
  FileIdentity kept_identity;
};

// "重复文件第" + decimal number + "组".
bool IsGroupLabel(std::string_view text);

// What the commands would delete, in order; touches nothing.
std::vector<DeleteStep> PlanDeleteChecked(const ResultList& list);
// Every row of a group below its topmost row, with that topmost row's file as the one kept.
std::vector<DeleteStep> PlanDeleteDuplicates(const ResultList& list);

// The commands. Each asks through View::ShowMessage and acts only on OK.
DeleteReport DeleteCheckedFiles(const ResultList& list, View& view);
DeleteReport DeleteDuplicateFiles(const ResultList& list, View& view);
DeleteReport DeleteCurrentFile(const ResultList& list, View& view);

}  // namespace quelvane
