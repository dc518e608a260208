// The answer for people: a text as its lines; one record as aligned
// "name  value" lines; a list of flat records as a table under a header of
// the field names; records that nest lists of records as numbered blocks.
// For pipelines (raw), the same without header and padding, tab-separated.
#include <algorithm>
#include <string_view>

#include "output.h"
#include "print.h"
#include "remote_session_client/text.h"

namespace orvik_session {

namespace {

constexpr std::string_view kGap = "  ";
constexpr std::size_t kIndentStep = 2;

bool is_scalar(const Value& value) {
  return !std::holds_alternative<List>(value.data) && !std::holds_alternative<Record>(value.data);
}

// Fits one line: a scalar, or a list of scalars.
bool is_cell(const Value& value) {
  if (is_scalar(value)) return true;
  const auto* list = std::get_if<List>(&value.data);
  return list && std::ranges::all_of(*list, is_scalar);
}

bool is_flat(const Value& value) {
  const auto* record = std::get_if<Record>(&value.data);
  return record && std::ranges::all_of(*record, [](const Member& m) { return is_cell(m.value); });
}

// Prints into `out`; `raw` for pipelines.
class Printer {
 public:
  explicit Printer(bool raw) : raw_(raw) {}

  // An empty text or list shows as "-", so that no column is left blank;
  // in raw, as nothing, which is what a field splitter expects.
  std::string cell(const Value& value) const {
    struct Visitor {
      const Printer& p;
      std::string operator()(const std::string& text) const { return text.empty() ? p.empty() : shown(text); }
      std::string operator()(std::uint64_t number) const { return std::to_string(number); }
      std::string operator()(bool flag) const { return flag ? "true" : "false"; }
      std::string operator()(InterfaceId id) const { return remote_session_client::hex_u64_padded(id.value); }
      std::string operator()(const List& list) const {
        std::string out;
        for (const Value& item : list) {
          if (!out.empty()) out += ", ";
          out += p.cell(item);
        }
        return out.empty() ? p.empty() : out;
      }
      std::string operator()(const Record&) const { return p.empty(); }  // never a cell
    };
    return std::visit(Visitor{*this}, value.data);
  }

  void record(const Record& record, std::size_t indent) {
    std::size_t width = 0;
    for (const Member& m : record) width = std::max(width, m.name.size());
    for (const Member& m : record) {
      out.append(indent, ' ');
      if (is_cell(m.value)) {
        pad_to(m.name, width);
        out += gap();
        out += cell(m.value);
        out += '\n';
      } else {
        out += m.name;
        out += ":\n";
        if (const auto* nested = std::get_if<Record>(&m.value.data)) {
          this->record(*nested, indent + kIndentStep);
        } else {
          list(std::get<List>(m.value.data), indent + kIndentStep);
        }
      }
    }
  }

  void list(const List& list, std::size_t indent) {
    if (list.empty()) {
      if (raw_) return;  // no rows
      out.append(indent, ' ');
      out += "(none)\n";
    } else if (std::ranges::all_of(list, is_scalar)) {
      for (const Value& item : list) {
        out.append(indent, ' ');
        out += cell(item);
        out += '\n';
      }
    } else if (std::ranges::all_of(list, is_flat)) {
      table(list, indent);
    } else {
      for (std::size_t i = 0; i < list.size(); ++i) {
        out.append(indent, ' ');
        out += "[" + std::to_string(i + 1) + "]\n";
        record(std::get<Record>(list[i].data), indent + kIndentStep);
      }
    }
  }

  // A free text (a banner, an adventure answer) keeps its lines; each line is
  // shown on its own, so an ordinary banner prints as it was written.
  void text(std::string_view text) {
    while (true) {
      const auto end = text.find('\n');
      out += shown(text.substr(0, end));
      out += '\n';
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
      if (text.empty()) break;
    }
  }

  std::string out;

 private:
  std::string empty() const { return raw_ ? "" : "-"; }
  std::string_view gap() const { return raw_ ? "\t" : kGap; }

  void pad_to(std::string_view text, std::size_t width) {
    out += text;
    if (!raw_) out.append(width - std::min(width, display_width(text)), ' ');
  }

  void table(const List& rows, std::size_t indent) {
    const Record& first = std::get<Record>(rows.front().data);
    std::vector<std::vector<std::string>> cells;
    cells.reserve(rows.size() + 1);
    if (!raw_) {
      std::vector<std::string>& header = cells.emplace_back();
      for (const Member& m : first) header.emplace_back(m.name);
    }
    for (const Value& row : rows) {
      std::vector<std::string>& line = cells.emplace_back();
      for (const Member& m : std::get<Record>(row.data)) line.push_back(cell(m.value));
    }
    std::vector<std::size_t> widths(first.size(), 0);
    for (const auto& line : cells) {
      for (std::size_t c = 0; c < line.size() && c < widths.size(); ++c) {
        widths[c] = std::max(widths[c], display_width(line[c]));
      }
    }
    for (const auto& line : cells) {
      out.append(indent, ' ');
      for (std::size_t c = 0; c < line.size(); ++c) {
        if (c + 1 == line.size()) {
          out += line[c];  // the last column is not padded: no trailing spaces
        } else {
          pad_to(line[c], widths[c]);
          out += gap();
        }
      }
      out += '\n';
    }
  }

  bool raw_;
};

}  // namespace

std::string human_text(const Answer& answer, bool raw) {
  Printer p(raw);
  if (answer.fields.size() != 1) {
    p.record(answer.fields, 0);
    return std::move(p.out);
  }
  const Value& payload = answer.fields.front().value;
  if (const auto* text = std::get_if<std::string>(&payload.data)) {
    p.text(*text);
  } else if (const auto* list = std::get_if<List>(&payload.data)) {
    p.list(*list, 0);
  } else if (const auto* record = std::get_if<Record>(&payload.data)) {
    p.record(*record, 0);
  } else {
    p.out += p.cell(payload);
    p.out += '\n';
  }
  return std::move(p.out);
}

std::string answer_text(const Answer& answer, Format format) {
  return format == Format::Json ? json_text(answer) : human_text(answer, format == Format::Raw);
}

}  // namespace orvik_session
