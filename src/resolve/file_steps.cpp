// The steps for each file: one request per file (or per batch of files), each
// answer giving fields of its files. A step that fails fails its files only.
#include "resolve/file_steps.h"

#include <atomic>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "reading/pruned_json.h"
#include "runtime/relative_address.h"

namespace sharelink::share_engine {
namespace {

constexpr std::size_t field_count = rule_field_names.size();

/// The value `name` ("file.NAME") of `file`; nothing when it has none.
std::optional<std::string> file_value(const file_record& file, std::string_view name) {
  if (!name.starts_with("file.")) return std::nullopt;
  name.remove_prefix(5);
  const std::array<std::pair<std::string_view, const local_text*>, 5> own = {
      {{"download_url", &file.download_url}, {"file_name", &file.file_name}, {"md5", &file.md5},
       {"folder", &file.folder}, {"size", nullptr}}};
  for (const auto& [field, text] : own) {
    if (field != name) continue;
    if (text == nullptr)
      return file.size_bytes ? std::optional<std::string>(std::to_string(*file.size_bytes)) : std::nullopt;
    if (text->empty() && field != "folder") return std::nullopt;
    return *text;
  }
  for (const auto& [extra, value] : file.extra)
    if (extra == name) return value;
  return std::nullopt;
}

/// The values of a batch's files: each name's values joined.
template_values batch_values(const std::vector<file_record*>& files, const std::string& join) {
  return [&files, join](std::string_view name) -> std::optional<std::string> {
    std::string joined;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::optional<std::string> value = file_value(*files[i], name);
      if (!value) return std::nullopt;
      joined += (i == 0 ? "" : join) + *value;
    }
    if (files.empty() || !name.starts_with("file.")) return std::nullopt;
    return joined;
  };
}

/// Each of `files` fails as `failed` says (a fetch that failed says it with its
/// status and its words).
void fail_files(const std::vector<file_record*>& files, const run_failure& failed) {
  std::string message = failed.message;
  error_kind kind = failed.kind.value_or(error_kind::page);
  if (message.empty() && failed.fetch) {
    message = failed.fetch->error;
    const long status = failed.fetch->status;
    if (status != 0 && (status < 200 || status > 299))
      message = "HTTP " + std::to_string(status) + (message.empty() ? std::string() : "; " + message);
    kind = failure_kind_of(*failed.fetch).value_or(error_kind::page);
  }
  for (file_record* file : files)
    if (!file->error) file->error = failure{kind, "step " + failed.step + ": " + message};
}

/// Sets the fields `values` gives `file`, the download address made absolute
/// against `base`.
void give(const service_rule& rule, file_record& file, std::array<std::optional<local_text>, field_count>& values,
          const std::string& base) {
  for (std::size_t i = 0; i < field_count; ++i) {
    if (!values[i]) continue;
    if (i == 0) values[i] = resolve_reference(base, *values[i]);
    set_file_field(rule, file, static_cast<rule_field>(i), std::move(*values[i]));
  }
}

/// What a file's answer gives it (a step for one file at a time).
void give_one(share_run& run, const step_rule& step, file_record& file, const step_answer& got,
              const template_values& values) {
  std::array<std::optional<local_text>, field_count> given;
  for (std::size_t i = 0; i < field_count; ++i) {
    const std::optional<value_reading>& reading = step.gives->fields[i];
    if (!reading) continue;
    std::optional<failure> error;
    std::optional<std::string> problem;
    given[i] = read_value(*reading, {got.answer}, run.scope("step " + step.name + ": gives " +
                                                               std::string(rule_field_names[i]), values),
                          error, &problem);
    if (error || problem || !given[i] || given[i]->empty()) {
      const std::string why = error ? error->message : problem ? *problem
                                             : "the answer gives no " + std::string(rule_field_names[i]);
      fail_files({&file}, {why, error_kind::page, std::nullopt, step.name});
      return;
    }
  }
  give(run.rule, file, given, got.outcome.final_address);
}

/// What a batch's answer gives each of its files: the element of its array that
/// `match` pairs with the file.
void give_batch(share_run& run, const step_rule& step, const std::vector<file_record*>& files,
                const step_answer& got, std::size_t index) {
  const gives_rule& gives = *step.gives;
  std::vector<std::string> pointers;
  for (const auto& field : gives.fields)
    if (field && field->json) pointers.push_back(*field->json);
  pointers.push_back(gives.match->json.value_or(""));
  std::vector<bool> given(files.size(), false);
  const auto element = [&](const nlohmann::json& item) {
    const std::string text = gives.match->json ? std::string() : item.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    for (std::size_t f = 0; f < files.size(); ++f) {
      if (given[f]) continue;
      const template_values values = run.values_for(index, [&, f](std::string_view name) {
        return file_value(*files[f], name);
      });
      std::optional<failure> error;
      if (!record_condition_holds(*gives.match, &item, text, values, error, run.cancel())) continue;
      std::array<std::optional<local_text>, field_count> fields;
      for (std::size_t i = 0; i < field_count; ++i) {
        const std::optional<value_reading>& reading = gives.fields[i];
        if (!reading) continue;
        rule_trace* sink = run.trace();
        std::optional<traced_reading> told;
        if (sink != nullptr)
          told = traced_reading{"step " + step.name + ": gives " + std::string(rule_field_names[i]) + " of file " +
                                    files[f]->file_name,
                                reading->filled ? "template '" + *reading->filled + "'"
                                                : "json " + gives.json_array + "/N" + *reading->json,
                                step.name, 0, {}, {}, {}};
        std::optional<local_text> raw;
        if (reading->filled) {
          const filled_template filled = fill_template(*reading->filled, template_place::plain, values);
          if (!filled.missing) raw = filled.text;
        } else {
          raw = element_value(item, *reading->json);
        }
        if (raw) fields[i] = decode_value(*raw, reading->decode, nullptr, told ? &told->decoded : nullptr);
        if (told) {
          told->matches = raw ? 1 : 0;
          told->found = raw;
          told->value = fields[i];
          sink->reading(*told);
        }
      }
      give(run.rule, *files[f], fields, got.outcome.final_address);
      given[f] = true;
      return;
    }
  };
  const pruned_json read = read_json_elements(got.answer.text, gives.json_array, pointers, element, [] {});
  for (std::size_t f = 0; f < files.size(); ++f)
    if (!given[f])
      fail_files({files[f]}, {read.error ? *read.error : "the answer holds nothing for the file", error_kind::page,
                              std::nullopt, step.name});
}

/// Runs step `index` for `files` (one, or a batch).
void run_for(share_run& run, std::size_t index, const std::vector<file_record*>& files) {
  const step_rule& step = run.rule.steps[index];
  const template_values own = batch_values(files, step.join);
  const template_values values = run.values_for(index, own);
  run_failure failed;
  const std::optional<step_request> request = run.request_of(index, values, failed);
  if (!request) return fail_files(files, failed);
  const step_answer got = run.ask(step.name, *request, 0, files.size() == 1 ? files[0]->folder : "", 0);
  if (got.saved_missing)
    return fail_files(files, {"no answer for the step (give --page " + step.name + "=FILE)", error_kind::page,
                              std::nullopt, step.name});
  if (auto told = run.failure_told(step.fails, got.answer, values, "step " + step.name + ": fail"))
    return fail_files(files, *told);
  if (auto failed_fetch = fetch_failure(got, step.name)) return fail_files(files, *failed_fetch);
  if (!step.gives) return;
  if (step.batch > 0) give_batch(run, step, files, got, index);
  else give_one(run, step, *files[0], got, values);
}

}  // namespace

void run_file_steps(share_run& run, std::vector<file_record>& files) {
  for (std::size_t index = 0; index < run.rule.steps.size() && !run.stopped(); ++index) {
    const step_rule& step = run.rule.steps[index];
    if (!step.for_each_file) continue;
    // The files still without an error, in batches.
    std::vector<std::vector<file_record*>> batches;
    const std::size_t per_batch = std::max<std::size_t>(1, step.batch);
    for (file_record& file : files) {
      if (file.error) continue;
      if (batches.empty() || batches.back().size() == per_batch) batches.emplace_back();
      batches.back().push_back(&file);
    }
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
      for (std::size_t k; (k = next++) < batches.size() && !run.stopped();) {
        try {
          run_for(run, index, batches[k]);
        } catch (const std::exception&) {
          fail_files(batches[k], {"out of memory", error_kind::page, std::nullopt, step.name});
        }
      }
    };
    std::vector<std::thread> threads;
    try {
      for (std::size_t t = 1; t < std::min(run.settings.at_once, batches.size()); ++t) threads.emplace_back(work);
    } catch (const std::system_error&) {  // fewer threads, the same work
    }
    work();
    for (std::thread& thread : threads) thread.join();
  }
}

}  // namespace sharelink::share_engine
