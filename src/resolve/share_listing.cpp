// The listing of a share: the share page, each step in turn (a paged step page
// after page), and the folders, listed side by side.
#include "resolve/share_listing.h"

#include <condition_variable>
#include <deque>
#include <set>
#include <system_error>
#include <thread>

#include "codec/one_line.h"

namespace sharelink::share_engine {
namespace {

/// The records one listing read, in order.
struct answer_listing {
  listed_records records;
  std::optional<listed_record> last;
  std::size_t files = 0;
};

/// Adds the records of `got`'s answer to `into`; sets `top` to what `top_pointers`
/// reach in the answer, when the records were read from it as JSON.
void take_records(share_run& run, const step_answer& got, answer_listing& into, std::optional<failure>& error,
                  const std::vector<std::string>& top_pointers = {}, std::optional<nlohmann::json>* top = nullptr) {
  answer_records read =
      read_answer_records(run.rule, got.answer, run.room, run.scope("records", {[&run](std::string_view name) {
                                                                    return run.rule_value(name);
                                                                  }}),
                          error, top_pointers);
  if (top != nullptr) *top = std::move(read.top);
  if (rule_trace* sink = run.trace()) {
    const record_rule& records = run.rule.records;
    traced_reading told;
    told.what = "records";
    told.how = records.reader == record_reader::json_array ? "json_array " + records.json_array
               : records.reader == record_reader::pattern  ? "pattern '" + records.pattern + "'"
               : records.reader == record_reader::start_tags ? "start_tags " + records.marker
                                                             : "data_objects " + records.marker;
    told.answer = got.answer.step;
    told.matches = read.count;
    told.value = std::to_string(read.files) + " files, " + std::to_string(read.count - read.files) + " folders";
    sink->reading(told);
  }
  for (record_marks& marks : read.kept.marks) marks.base = got.outcome.final_address;
  into.records.append(std::move(read.kept));
  if (read.last) {
    into.last = std::move(read.last);
    into.last->marks.base = got.outcome.final_address;
  }
  into.files += read.files;
}

/// The values a page of step `index` adds: its folder's {dir} and its counter or cursor.
template_values page_values(const pages_rule* pages, const std::optional<std::string>& dir,
                            const std::optional<std::string>& page_value) {
  return [pages, dir, page_value](std::string_view name) -> std::optional<std::string> {
    if (name == "dir" && dir) return dir;
    if (pages != nullptr && name == pages->param) return page_value;
    return std::nullopt;
  };
}

/// Whether another page follows `got`'s, and what it sends; a failure of the run
/// when the cursor comes round again.
bool next_page(share_run& run, const step_rule& step, const step_answer& got, std::size_t added,
               const template_values& values, std::optional<std::string>& page_value,
               std::set<std::string>& cursors, const nlohmann::json* read) {
  const pages_rule& pages = *step.pages;
  bool more = added > 0;
  if (pages.more) {
    std::optional<failure> error;
    more = condition_holds(*pages.more, got.answer, run.scope("step " + step.name + ": more", values), error, read);
  }
  if (!pages.cursor) {
    page_value = std::to_string(std::stoll(*page_value) + pages.step);
    return more;
  }
  std::optional<failure> error;
  const std::optional<local_text> cursor =
      read_value(*pages.cursor, {got.answer}, run.scope("step " + step.name + ": cursor", values), error);
  // An empty cursor, or none, is the last page's.
  if (!more || !cursor || cursor->empty()) return false;
  if (!cursors.insert(*cursor).second) {
    run.fail({"the cursor '" + cursor->substr(0, 100) + "' came before: the listing would go round for ever",
              error_kind::page, std::nullopt, step.name});
    return false;
  }
  page_value = *cursor;
  return true;
}

/// Runs step `index` for the folder `dir` (nothing at the top), its pages one after
/// another, adding the records of each answer to `records` when given. The last
/// answer that came, or nothing; what went wrong is the run's failure.
std::optional<step_answer> run_step(share_run& run, std::size_t index, const std::optional<std::string>& dir,
                                    answer_listing* records, std::string_view folder) {
  const step_rule& step = run.rule.steps[index];
  const pages_rule* pages = step.pages ? &*step.pages : nullptr;
  std::optional<std::string> page_value;
  if (pages) page_value = pages->cursor ? pages->cursor_start : std::to_string(pages->start);
  std::set<std::string> cursors;
  std::optional<step_answer> last;
  for (std::size_t page = 0; !run.stopped(); ++page) {
    if (pages && page >= pages->max) {
      run.fail({"the listing has more than " + std::to_string(pages->max) + " pages ([steps.pages] max)",
                error_kind::page, std::nullopt, step.name});
      break;
    }
    const template_values values = run.values_for(index, page_values(pages, dir, page_value));
    run_failure failed;
    const std::optional<step_request> request = run.request_of(index, values, failed);
    if (!request) {
      run.fail(std::move(failed));
      break;
    }
    step_answer got = run.ask(step.name, *request, pages ? page + 1 : 0, folder, page);
    if (got.saved_none) break;
    if (got.saved_missing) {
      run.fail({"no answer for the step " + step.name + " (give --page " + step.name + "=FILE)", error_kind::page,
                std::nullopt, {}});
      break;
    }
    if (auto told = run.failure_told(step.fails, got.answer, values, "step " + step.name + ": fail")) {
      run.fail(std::move(*told));
      last = std::move(got);
      break;
    }
    const std::size_t before = records ? records->files + records->records.size() : 0;
    std::optional<failure> error;
    // A `more` that reads the answer's JSON reads what the records' reading kept of it.
    std::optional<nlohmann::json> read;
    const std::vector<std::string> more_pointer =
        pages && pages->more && pages->more->json ? std::vector{*pages->more->json} : std::vector<std::string>();
    if (records) take_records(run, got, *records, error, more_pointer, &read);
    if (error) run.fail({error->message, error->kind, std::nullopt, {}});
    if (auto failed_fetch = fetch_failure(got, step.name)) run.fail(std::move(*failed_fetch));
    const std::size_t added = records ? records->files + records->records.size() - before : 0;
    const bool more = pages && !run.stopped() && next_page(run, step, got, added, values, page_value, cursors, read ? &*read : nullptr);
    last = std::move(got);
    if (!more) break;
  }
  return last;
}

/// The folders of a listing, listed side by side by a few threads, each folder's
/// pages one after another.
class folder_lister {
 public:
  folder_lister(share_run& run, std::size_t step) : run_(run), step_(step) {}

  /// Notes the folders among `records` (found at `depth`) to be listed.
  void add(const listed_records& records, int depth) {
    std::lock_guard lock(mutex_);
    for (const record_marks& record : records.marks) {
      if (!record.is_folder || scheduled_.contains(record.dir)) continue;
      if (depth > run_.rule.records.folders->max_depth) {
        too_deep_ = true;
        continue;
      }
      scheduled_.insert(record.dir);
      jobs_.push_back({record.dir, depth});
    }
    changed_.notify_all();
  }

  /// A folder to be listed already, at the top: not listed again.
  void listed_already(const local_text& dir) { scheduled_.insert(dir); }

  /// Lists every folder noted, and those their listings hold, until none is left.
  void run() {
    std::vector<std::thread> threads;
    const std::size_t count = std::max<std::size_t>(1, run_.settings.at_once);
    try {
      for (std::size_t t = 1; t < count; ++t) threads.emplace_back([this] { work(); });
    } catch (const std::system_error&) {  // fewer threads, the same work
    }
    work();
    for (std::thread& thread : threads) thread.join();
  }

  /// The listing of each folder, by its {dir}.
  std::map<local_text, answer_listing> listed;
  bool too_deep() const { return too_deep_; }

 private:
  struct job {
    local_text dir;
    int depth = 0;
  };

  void work() {
    for (;;) {
      job next;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !jobs_.empty() || busy_ == 0 || run_.stopped(); });
        if (jobs_.empty() || run_.stopped()) {
          changed_.notify_all();
          return;
        }
        next = std::move(jobs_.front());
        jobs_.pop_front();
        ++busy_;
      }
      answer_listing found;
      try {
        run_step(run_, step_, next.dir, &found, next.dir);
      } catch (const std::exception&) {
        run_.fail({"out of memory while listing a folder", error_kind::page, std::nullopt, {}});
      }
      add(found.records, next.depth + 1);
      std::lock_guard lock(mutex_);
      listed.emplace(next.dir, std::move(found));
      --busy_;
      changed_.notify_all();
    }
  }

  share_run& run_;
  const std::size_t step_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<job> jobs_;
  std::set<local_text> scheduled_;
  std::size_t busy_ = 0;
  bool too_deep_ = false;
};

/// The files of `records` in order, each folder's files where the folder stood
/// (a folder met again is left out), their folder paths under `path`.
void flatten(listed_records& records, const std::string& path, folder_lister& folders,
             std::set<local_text>& met, share_listing& out) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    const record_marks& marks = records.marks[i];
    if (!marks.is_folder) {
      records.files[i].folder = path;
      out.files.files.push_back(std::move(records.files[i]));
      out.files.marks.push_back(std::move(records.marks[i]));
      continue;
    }
    const auto found = folders.listed.find(marks.dir);
    if (found == folders.listed.end() || !met.insert(marks.dir).second) continue;
    const local_text name = records.files[i].file_name.empty() ? marks.dir : records.files[i].file_name;
    flatten(found->second.records, path.empty() ? name : path + "/" + name, folders, met, out);
  }
}

/// The name of the step the records are read from: the one [records] names, else
/// the last step that lists, else the share page.
std::string records_step(const service_rule& rule) {
  if (!rule.records.step.empty()) return rule.records.step;
  std::string last = "page";
  for (const step_rule& step : rule.steps)
    if (!step.for_each_file) last = step.name;
  return last;
}

std::size_t step_index(const service_rule& rule, const std::string& name) {
  for (std::size_t i = 0; i < rule.steps.size(); ++i)
    if (rule.steps[i].name == name) return i;
  return rule.steps.size();
}

/// The share page: its answer kept at the top, a failure it tells or its status
/// told to the run.
void read_share_page(share_run& run, answer_listing* records, std::optional<failure>& error) {
  step_answer got = run.ask("page", run.page_request(), 0, {}, 0);
  if (got.saved_missing) {
    run.fail({"no share page", error_kind::page, std::nullopt, {}});
    return;
  }
  const template_values values = [&run](std::string_view name) { return run.rule_value(name); };
  const long status = got.outcome.status;
  if (auto told = got.outcome.fetched ? run.failure_told(run.rule.fails, got.answer, values, "fail") : std::nullopt) {
    run.fail(std::move(*told));
  } else if (status == 404 || status == 410) {
    std::string message = "the share is gone (HTTP " + std::to_string(status);
    if (!got.outcome.status_text.empty()) message += " " + one_line(got.outcome.status_text);
    run.fail({message + ")", error_kind::gone, std::nullopt, {}});
  } else if (records != nullptr) {
    // The page is read whatever its status: an error page may still list what it holds.
    take_records(run, got, *records, error);
  }
  if (auto failed_fetch = fetch_failure(got, "page")) run.fail(std::move(*failed_fetch));
  run.top_addresses.push_back(got.outcome.final_address);
  run.top.push_back(std::move(got.answer));
}

}  // namespace

share_listing list_share(share_run& run) {
  const service_rule& rule = run.rule;
  const std::string from = rule.records.reader == record_reader::none ? std::string() : records_step(rule);
  answer_listing top;
  std::optional<failure> error;
  read_share_page(run, from == "page" ? &top : nullptr, error);
  for (std::size_t i = 0; i < rule.steps.size() && !run.stopped(); ++i) {
    if (rule.steps[i].for_each_file) continue;
    std::optional<step_answer> last = run_step(run, i, std::nullopt, rule.steps[i].name == from ? &top : nullptr, {});
    if (!last) continue;
    run.top_addresses.push_back(last->outcome.final_address);
    run.top.push_back(std::move(last->answer));
  }
  share_listing out;
  out.error = std::move(error);
  out.files_read = top.files;
  const bool folders = rule.records.folders && run.settings.saved == nullptr;
  const std::string folder_step = folders && !rule.records.folders->step.empty() ? rule.records.folders->step : from;
  folder_lister lister(run, step_index(rule, folder_step));
  if (folders && step_index(rule, folder_step) < rule.steps.size()) {
    lister.listed_already(run.rule_value("dir").value_or(""));
    lister.add(top.records, 1);
    lister.run();
    for (const auto& [dir, listed] : lister.listed) out.files_read += listed.files;
    if (lister.too_deep())
      out.error = {error_kind::page, "folders lie deeper than max_depth (" +
                                         std::to_string(rule.records.folders->max_depth) +
                                         "); the deeper ones are not listed"};
  }
  std::set<local_text> met;
  std::size_t records = top.records.size();
  for (const auto& [dir, listed] : lister.listed) records += listed.records.size();
  out.files.reserve(records);
  flatten(top.records, {}, lister, met, out);
  if (!out.files.empty()) out.last = out.files.at(out.files.size() - 1);
  // What the window shows: the last file read, even past the room, when there are no folders.
  if (!folders && top.last && !top.last->marks.is_folder) out.last = top.last;
  return out;
}

}  // namespace sharelink::share_engine
