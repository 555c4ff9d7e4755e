#include "reading/pruned_json.h"

#include <map>
#include <utility>

namespace sharelink {
namespace {

using json = nlohmann::json;

/// Pointers as a tree of their reference tokens: an object's key or an array's
/// index written in decimal, as a pointer writes them.
struct pointer_tree {
  struct node {
    std::map<std::string, std::size_t, std::less<>> children;
    bool whole = false;           ///< a pointer ends here: all below is kept
    bool array = false;           ///< read_json_elements' array
    bool leads_to_array = false;  ///< the array is here or below
  };
  std::vector<node> nodes{node{}};  // [0]: the root

  /// Adds `pointer` from the root; the node it ends at, or nothing when it is
  /// no pointer.
  std::optional<std::size_t> add(const std::string& pointer) {
    std::vector<std::string> tokens;
    try {
      json::json_pointer parsed(pointer);
      for (; !parsed.empty(); parsed.pop_back()) tokens.push_back(parsed.back());
    } catch (const json::exception&) {
      return std::nullopt;
    }
    std::size_t at = 0;
    for (auto token = tokens.rbegin(); token != tokens.rend(); ++token) {
      auto found = nodes[at].children.find(*token);
      if (found == nodes[at].children.end()) {
        const std::size_t added = nodes.size();
        nodes.emplace_back();
        found = nodes[at].children.emplace(*token, added).first;
      }
      at = found->second;
    }
    return at;
  }

  void mark_whole(const std::vector<std::string>& pointers) {
    for (const std::string& pointer : pointers)
      if (auto at = add(pointer)) nodes[*at].whole = true;
  }
};

// Builds the pruned tree from the parser's events. Each open array or object
// has a frame; a value that begins is kept when its frame is kept and its token
// is a child of the frame's node (or when the frame keeps all), and goes where
// the whole answer's tree would hold it. The elements of the array of
// read_json_elements are built one at a time, apart, and handed on.
class pruning_handler final : public nlohmann::json_sax<json> {
 public:
  pruning_handler(const pointer_tree& tree, json& root, const pointer_tree* element_tree,
                  const std::function<void(const json&)>* element, const std::function<void()>* restart)
      : tree_(tree), root_(root), element_tree_(element_tree), element_(element), restart_(restart) {}

  const std::optional<std::string>& error() const { return error_; }

  bool null() override { return scalar(nullptr); }
  bool boolean(bool value) override { return scalar(value); }
  bool number_integer(number_integer_t value) override { return scalar(value); }
  bool number_unsigned(number_unsigned_t value) override { return scalar(value); }
  bool number_float(number_float_t value, const string_t&) override { return scalar(value); }
  bool string(string_t& value) override { return scalar(std::move(value)); }
  bool binary(binary_t& value) override { return scalar(std::move(value)); }
  bool start_object(std::size_t) override { return open(json::value_t::object); }
  bool start_array(std::size_t) override { return open(json::value_t::array); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& key) override {
    if (stack_.back().value != nullptr) stack_.back().key = std::move(key);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  struct frame {
    json* value = nullptr;                // the container as kept; null: nothing below is
    const pointer_tree* tree = nullptr;   // null (with `value`): all below is kept
    std::size_t node = 0;
    bool elements = false;                // its elements go one by one to `element_`
    std::size_t count = 0;                // arrays: the elements begun so far
    std::string key;                      // objects: the key of the value to come
  };

  /// Where a value that begins is kept: `slot` null when it is not.
  struct place {
    json* slot = nullptr;
    const pointer_tree* tree = nullptr;  // null with a slot: all below is kept
    std::size_t node = 0;
    bool element = false;  // an element of the array, built apart
  };

  bool counted() {
    if (++kept_ <= most_json_values) return true;
    error_ = "has more than " + std::to_string(most_json_values) + " values where the rule reads";
    return false;
  }

  /// The place in `parent`'s container for its element `index`, or for the value
  /// of its key. Elements before it that are not kept stand as nulls, so that an
  /// index means in the kept tree what it means in the answer.
  json* slot_in(frame& parent, std::size_t index) {
    if (parent.value->is_object()) return counted() ? &(*parent.value)[parent.key] : nullptr;
    json::array_t& array = parent.value->get_ref<json::array_t&>();
    while (array.size() <= index) {
      if (!counted()) return nullptr;
      array.emplace_back();
    }
    return &array.back();
  }

  place begin_value() {
    if (stack_.empty()) {
      if (tree_.nodes[0].leads_to_array) (*restart_)();
      return {&root_, tree_.nodes[0].whole ? nullptr : &tree_, 0, false};
    }
    frame& parent = stack_.back();
    const std::size_t index = parent.count++;
    if (parent.elements) {
      element_value_ = json();
      kept_before_element_ = kept_;
      element_depth_ = stack_.size();
      return {&element_value_, element_tree_->nodes[0].whole ? nullptr : element_tree_, 0, true};
    }
    if (parent.value == nullptr) return {};
    if (parent.tree == nullptr) return {slot_in(parent, index), nullptr, 0, false};
    const auto& children = parent.tree->nodes[parent.node].children;
    const auto found = children.find(parent.value->is_array() ? std::to_string(index) : parent.key);
    if (found == children.end()) return {};
    const pointer_tree::node& child = parent.tree->nodes[found->second];
    // The place of the array met again: what was handed on was not the last.
    if (child.leads_to_array) (*restart_)();
    return {slot_in(parent, index), child.whole ? nullptr : parent.tree, found->second, false};
  }

  void hand_over() {
    (*element_)(element_value_);
    element_value_ = json();
    kept_ = kept_before_element_;
  }

  template <class value_type>
  bool scalar(value_type&& value) {
    const place at = begin_value();
    if (error_) return false;
    if (at.slot != nullptr) *at.slot = json(std::forward<value_type>(value));
    if (at.element) hand_over();
    return true;
  }

  bool open(json::value_t type) {
    if (stack_.size() >= most_json_depth) {
      error_ = "is nested deeper than " + std::to_string(most_json_depth) + " levels";
      return false;
    }
    const place at = begin_value();
    if (error_) return false;
    frame opened;
    if (at.slot != nullptr) {
      *at.slot = json(type);
      opened.value = at.slot;
      opened.tree = at.tree;
      opened.node = at.node;
      opened.elements = type == json::value_t::array && at.tree == &tree_ && tree_.nodes[at.node].array;
    }
    stack_.push_back(std::move(opened));
    return true;
  }

  bool close() {
    stack_.pop_back();
    if (element_ != nullptr && element_depth_ == stack_.size() && !stack_.empty() && stack_.back().elements)
      hand_over();
    return true;
  }

  const pointer_tree& tree_;
  json& root_;
  const pointer_tree* element_tree_;
  const std::function<void(const json&)>* element_;
  const std::function<void()>* restart_;
  std::vector<frame> stack_;
  std::size_t kept_ = 0;
  json element_value_;
  std::size_t kept_before_element_ = 0;
  std::size_t element_depth_ = 0;
  std::optional<std::string> error_;
};

pruned_json parse(std::string_view text, const pointer_tree& tree, const pointer_tree* element_tree,
                  const std::function<void(const json&)>* element, const std::function<void()>* restart) {
  pruned_json result;
  json root;
  pruning_handler handler(tree, root, element_tree, element, restart);
  bool parsed = false;
  try {
    parsed = json::sax_parse(text, &handler);
  } catch (const json::exception&) {
    // Not JSON as the reader sees it.
  }
  if (handler.error()) {
    result.error = handler.error();
  } else if (parsed) {
    result.json = std::move(root);
  }
  return result;
}

}  // namespace

pruned_json read_json_for(std::string_view text, const std::vector<std::string>& pointers) {
  pointer_tree tree;
  tree.mark_whole(pointers);
  return parse(text, tree, nullptr, nullptr, nullptr);
}

pruned_json read_json_elements(std::string_view text, const std::string& array,
                               const std::vector<std::string>& element_pointers,
                               const std::function<void(const nlohmann::json& element)>& element,
                               const std::function<void()>& restart,
                               const std::vector<std::string>& top_pointers) {
  pointer_tree tree;
  tree.mark_whole(top_pointers);
  pointer_tree element_tree;
  element_tree.mark_whole(element_pointers);
  // The way to the array, each node of it marked.
  std::vector<std::string> tokens;
  try {
    for (json::json_pointer parsed(array); !parsed.empty(); parsed.pop_back()) tokens.push_back(parsed.back());
  } catch (const json::exception&) {
    return parse(text, tree, &element_tree, &element, &restart);  // no array: nothing is handed on
  }
  std::size_t at = 0;
  tree.nodes[0].leads_to_array = true;
  for (auto token = tokens.rbegin(); token != tokens.rend(); ++token) {
    auto found = tree.nodes[at].children.find(*token);
    if (found == tree.nodes[at].children.end()) {
      const std::size_t added = tree.nodes.size();
      tree.nodes.emplace_back();
      found = tree.nodes[at].children.emplace(*token, added).first;
    }
    at = found->second;
    tree.nodes[at].leads_to_array = true;
  }
  tree.nodes[at].array = true;
  return parse(text, tree, &element_tree, &element, &restart);
}

}  // namespace sharelink
