#include "cli/cli_options.h"

#include "fileops/workbook.h"
#include "platform/text.h"
#include "search/type_presets.h"

namespace quelvane {
namespace {

std::string PresetExtensions(const std::string& name) {
  for (const auto& preset : kTypePresets) {
    if (name == preset.cli_name) return preset.extensions;
  }
  return {};
}

bool IsWholeNumber(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int ActionCount(const CliOptions& o) {
  return !o.copy_to.empty() + !o.move_to.empty() + o.delete_checked + o.delete_dupes;
}

}  // namespace

void DefineOptions(CLI::App& app, CliOptions& o) {
  app.add_option("DIR", o.dir, "the folder to search")->required();
  app.add_option("-e,--ext", o.ext, "extensions, comma-separated, as in the settings window");
  app.add_option("-p,--preset", o.preset,
                 "mp3 | video | picture | word | excel | archive | exe | text (with --ext too, "
                 "the list is preset + \",\" + ext)")
      ->check(
          CLI::IsMember({"mp3", "video", "picture", "word", "excel", "archive", "exe", "text"}));
  app.add_option("--skip-size", o.skip_size,
                 "lt | eq | gt: skip files smaller than, equal to, larger than the limit")
      ->check(CLI::IsMember({"lt", "eq", "gt"}));
  app.add_option("--size", o.size, "the size limit's number (a whole number)");
  app.add_option("--unit", o.unit, "the size limit's unit: B | KB | MB | GB")
      ->check(CLI::IsMember({"B", "KB", "MB", "GB"}));
  app.add_option("--name", o.name_mode, "include | skip: names with one of the keywords")
      ->check(CLI::IsMember({"include", "skip"}));
  app.add_option("--keywords", o.keywords, "name keywords, comma-separated, case-sensitive")
      ->each([&o](const std::string&) { o.keywords_given = true; });
  app.add_option("-f,--format", o.format, "tsv (default) | json")
      ->check(CLI::IsMember({"tsv", "json"}));
  app.add_option("-o,--output", o.output, "write the list to FILE instead of standard output");
  app.add_flag("-q,--quiet", o.quiet, "no progress on standard error");
  app.add_flag("-d,--dupes", o.dupes, "find duplicate files (equal bytes, MD5) among the rows");
  app.add_option("-j,--threads", o.threads, "hashing threads (0 = one per core)")
      ->check(CLI::Range(0, 256));
  app.add_option("--copy-to", o.copy_to, "copy the listed files into DIR (never overwrites)");
  app.add_option("--move-to", o.move_to, "move the listed files into DIR (never overwrites)");
  app.add_flag("--delete-checked", o.delete_checked, "delete the listed files (asks first)");
  app.add_flag("--delete-dupes", o.delete_dupes,
               "delete every duplicate but the first of each group (needs --dupes; asks first)");
  app.add_flag("--dry-run", o.dry_run, "change nothing; print the plan on standard error");
  app.add_flag("-y,--yes", o.yes, "answer yes to the confirmation of a delete");
  app.add_option("--export", o.export_path, "write the list to a workbook FILE (.xls or .xlsx)");
  app.set_version_flag("--version", "quelvane-cli 1.0", "print the version and exit");
}

std::string CheckOptions(const CliOptions& o, bool stdin_is_terminal) {
  if (o.ext.empty() && o.preset.empty()) return "give --ext or --preset";
  if (!o.skip_size.empty() && (o.size.empty() || o.unit.empty())) {
    return "--skip-size needs both --size and --unit";
  }
  if (o.skip_size.empty() && (!o.size.empty() || !o.unit.empty())) {
    return "--size and --unit go with --skip-size";
  }
  if (!o.size.empty() && !IsWholeNumber(o.size)) return "--size takes a whole number";
  if (!o.name_mode.empty() && !o.keywords_given) return "--name needs --keywords";
  if (o.name_mode.empty() && o.keywords_given) return "--keywords goes with --name";
  if (ActionCount(o) > 1) {
    return "give at most one of --copy-to, --move-to, --delete-checked, --delete-dupes";
  }
  if (o.delete_dupes && !o.dupes) return "--delete-dupes needs --dupes";
  if (o.dry_run && ActionCount(o) == 0) return "--dry-run goes with an action";
  if ((o.delete_checked || o.delete_dupes) && !o.dry_run && !o.yes && !stdin_is_terminal) {
    return "a delete asks for confirmation: give --yes when standard input is not a terminal";
  }
  if (!o.export_path.empty() && !IsWorkbookName(o.export_path)) {
    return "--export takes a name ending in .xls or .xlsx";
  }
  return {};
}

FilterSettings SettingsFromOptions(const CliOptions& o) {
  FilterSettings s;
  std::string preset = PresetExtensions(o.preset);
  s.ExtensionList = preset.empty() ? o.ext : o.ext.empty() ? preset : preset + "," + o.ext;
  s.SizeFilterMode = o.skip_size.empty() ? kFilterOff : kFilterOn;
  s.SizeComparison = o.skip_size == "lt"   ? kSkipSmaller
                     : o.skip_size == "eq" ? kSkipEqual
                     : o.skip_size == "gt" ? kSkipLarger
                                           : kChoosePrompt;
  s.SizeValue = TextToInteger(o.size);
  s.SizeUnit = o.unit.empty() ? kUnitPrompt : o.unit;
  s.NameFilterMode = o.name_mode == "include" ? kNameInclude
                     : o.name_mode == "skip"  ? kNameSkip
                                              : kFilterOff;
  s.NameKeywords = o.keywords;
  s.ShowDuplicates = o.dupes;
  return s;
}

}  // namespace quelvane
