#pragma once
// The records of a listing: every file and folder its answers hold, read answer by
// answer, and what they make together with the rule's [fields].
#include <array>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "reading/rule_reading.h"

namespace sharelink {

/// What a listing knows of one of its records beside the file it is.
struct record_marks {
  std::array<bool, 4> has{};  ///< which of the four fields the record itself gives
  bool is_folder = false;     ///< [records.folders] `when` holds for it
  local_text dir;             ///< a folder's {dir}
  std::string base;           ///< the address of the answer it was read from, when known
};

/// One record of a listing: a file, or a folder to list. The file holds the
/// record's values, decoded: the four fields (the size as its text, not yet a
/// size), the further values, an error when one cannot be read. The folder is left
/// for the listing to set.
struct listed_record {
  file_record file;
  record_marks marks;
};

/// Records of a listing, in order. The files and their marks are kept in two lists
/// side by side, so that the files become the listing's own where they stand: a
/// listing of thousands of files is not copied into a second list of them.
struct listed_records {
  std::vector<file_record> files;
  std::vector<record_marks> marks;  ///< marks[i] is that of files[i]

  std::size_t size() const { return files.size(); }
  bool empty() const { return files.empty(); }
  void reserve(std::size_t count) {
    files.reserve(count);
    marks.reserve(count);
  }
  void push_back(listed_record record) {
    files.push_back(std::move(record.file));
    marks.push_back(std::move(record.marks));
  }
  /// Adds `more`'s records after these.
  void append(listed_records&& more) {
    if (empty()) {
      *this = std::move(more);
      return;
    }
    files.insert(files.end(), std::make_move_iterator(more.files.begin()), std::make_move_iterator(more.files.end()));
    marks.insert(marks.end(), std::make_move_iterator(more.marks.begin()), std::make_move_iterator(more.marks.end()));
  }
  /// A copy of record `i`.
  listed_record at(std::size_t i) const { return {files[i], marks[i]}; }
  /// Record `i`, moved out (left empty here).
  listed_record take(std::size_t i) { return {std::move(files[i]), std::move(marks[i])}; }
  /// Leaves the folders out, the files in order.
  void drop_folders() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size(); ++i) {
      if (marks[i].is_folder) continue;
      if (kept != i) {
        files[kept] = std::move(files[i]);
        marks[kept] = std::move(marks[i]);
      }
      ++kept;
    }
    files.resize(kept);
    marks.resize(kept);
  }
};

/// The room the records of one listing share, however many answers and threads
/// read them: most_files files, as many folders, most_record_text bytes of their
/// texts as the answers write them.
class listing_room {
 public:
  /// Takes room for a record of `bytes` (a folder's, when `folder`); false when
  /// there is none (the record is left out, and the room remembers why).
  bool take(std::size_t bytes, bool folder = false);
  /// Records were left out before they came here: for their texts, or past most_files.
  void left_out(bool for_text);
  /// More records came than most_files.
  bool files_left_out() const;
  /// A record was left out for its texts.
  bool text_cut() const;

 private:
  mutable std::mutex mutex_;
  std::size_t files_ = 0, folders_ = 0, bytes_ = 0;
  bool files_left_out_ = false, text_cut_ = false;
};

/// The records of one answer.
struct answer_records {
  listed_records kept;                 ///< in answer order, those the room took
  std::optional<listed_record> last;   ///< the answer's last record, kept or not
  std::size_t count = 0;               ///< the records it holds, files and folders
  std::size_t files = 0;               ///< of those, the files
  /// The answer as JSON, as far as the `top_pointers` of read_answer_records reach,
  /// when the records were read from it in the same reading; else nothing.
  std::optional<nlohmann::json> top;
};

/// Reads the records of `answer` with the rule's [records], each taking its room in
/// `room`. Folders are told by [records.folders] `when`, their {dir} read by its
/// `path`. `error` as read_value's. Records read from a JSON array keep what
/// `top_pointers` reach beside them, so that a condition on the same answer need
/// not read it again (unless a pointer holds the array or leads into it).
answer_records read_answer_records(const service_rule& rule, const rule_answer& answer, listing_room& room,
                                   const reading_scope& scope, std::optional<failure>& error,
                                   const std::vector<std::string>& top_pointers = {});

/// The rule's [fields] as read from the answers: texts decoded, the size as the
/// window shows it.
struct field_values {
  std::array<local_text, 4> text;
  local_text size;
  std::optional<std::uint64_t> size_bytes;
};

/// Reads [fields] (one JSON reading per answer). A size that a decode step cannot
/// read is `error`.
field_values read_field_values(const service_rule& rule, const rule_answers& answers, const reading_scope& scope,
                               std::optional<failure>& error);

/// Sets `field` of `file` to `value` as a record gives it: the name with its type and
/// extension, the size as the window shows it and in bytes.
void set_file_field(const service_rule& rule, file_record& file, rule_field field, local_text value);

/// The files of a listing made whole. A field the records do not read comes from
/// `fields`; when the listing holds a single file (`files_read` is 1), so does a
/// field its record leaves out. The window's fields are those of `last` (the last
/// file read, kept or not), or `fields`' when the listing holds none. A listing
/// without records (the rule reads none) is the one file `fields` give, when they
/// give its address. The files of `files` become the reading's, where they stand.
rule_reading finish_listing(const service_rule& rule, const field_values& fields, listed_records files,
                            const std::optional<listed_record>& last, std::size_t files_read,
                            const listing_room& room);

}  // namespace sharelink
