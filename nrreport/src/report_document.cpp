// HTML pages with spliced element texts, on the gumbo HTML5 parser.
#include "report_document.hpp"

#include <gumbo.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <orvane/collected/text.hpp>

namespace orvane {
namespace {

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return lower(c); });
  return out;
}

// Whether the text holds "</" followed by `name` in any letter case.
bool has_end_tag(std::string_view text, std::string_view name) {
  for (size_t at = text.find("</"); at != std::string_view::npos; at = text.find("</", at + 2)) {
    const std::string_view rest = text.substr(at + 2, name.size());
    if (rest.size() == name.size() && std::equal(rest.begin(), rest.end(), name.begin(),
                                                 [](char a, char b) { return lower(a) == b; })) {
      return true;
    }
  }
  return false;
}

bool is_element_name(std::string_view tag) {
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (tag.empty() || !alpha(tag.front())) return false;
  return std::all_of(tag.begin(), tag.end(), [&](char c) {
    return alpha(c) || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

// The element's name in lower case, also for names the parser does not know.
std::string element_name(const GumboElement& e) {
  if (e.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(e.tag);
  GumboStringPiece piece = e.original_tag;
  gumbo_tag_from_original_text(&piece);
  std::string_view name(piece.data, piece.length);
  return lower(name.substr(0, name.find_first_of(" \t\n\f\r/>")));
}

// Elements whose content the parser reads as plain text up to their own end tag.
bool is_raw_text(const GumboElement& e) {
  if (e.tag_namespace != GUMBO_NAMESPACE_HTML) return false;
  switch (e.tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
      return true;
    default:
      return false;
  }
}

struct OutputDeleter {
  void operator()(GumboOutput* out) const { gumbo_destroy_output(&kGumboDefaultOptions, out); }
};

}  // namespace

ReportDocument::ReportDocument(std::string html) : html_(std::move(html)) {
  parse();
}

void ReportDocument::parse() {
  elements_.clear();
  std::unique_ptr<GumboOutput, OutputDeleter> out(
      gumbo_parse_with_options(&kGumboDefaultOptions, html_.data(), html_.size()));
  if (!out) throw std::runtime_error("the HTML parser failed on the report page");
  // Depth first, children in order: document order without recursion.
  std::vector<const GumboNode*> stack{out->document};
  while (!stack.empty()) {
    const GumboNode* node = stack.back();
    stack.pop_back();
    const GumboVector* children = nullptr;
    if (node->type == GUMBO_NODE_DOCUMENT) {
      children = &node->v.document.children;
    } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
      const GumboElement& e = node->v.element;
      children = &e.children;
      const GumboNode* only =
          e.children.length == 1 ? static_cast<const GumboNode*>(e.children.data[0]) : nullptr;
      const bool one_text = only != nullptr &&
                            (only->type == GUMBO_NODE_TEXT || only->type == GUMBO_NODE_WHITESPACE ||
                             only->type == GUMBO_NODE_CDATA);
      // Elements the parser implied have no start tag in the text to splice after.
      if (one_text && e.original_tag.length > 0) {
        Element el;
        el.name = element_name(e);
        el.html_namespace = e.tag_namespace == GUMBO_NAMESPACE_HTML;
        el.begin = e.start_pos.offset + e.original_tag.length;
        el.end = e.end_pos.offset;
        el.text = only->v.text.text;
        bool located = el.begin <= el.end && el.end <= html_.size();
        if (located && !is_raw_text(e)) {
          // Markup content: the range must be exactly the text node, so that a stray tag inside
          // it is never spliced away.
          const GumboText& t = only->v.text;
          located = t.start_pos.offset == el.begin &&
                    t.start_pos.offset + t.original_text.length == el.end;
        }
        if (located) elements_.push_back(std::move(el));
      }
    }
    if (children != nullptr) {
      for (unsigned i = children->length; i-- > 0;) {
        stack.push_back(static_cast<const GumboNode*>(children->data[i]));
      }
    }
  }
  stale_ = false;
}

bool ReportDocument::replace_text(std::string_view tag, std::string_view pattern,
                                  std::string_view text) {
  if (!is_element_name(tag)) {
    throw std::invalid_argument("unsupported element selector \"" + std::string(tag) +
                                "\": only a bare element name such as style or script is allowed");
  }
  if (stale_ || always_reparse_) parse();
  const std::string name = lower(tag);
  auto it = std::find_if(elements_.begin(), elements_.end(), [&](const Element& el) {
    return el.name == name && text_of(el).find(pattern) != std::string_view::npos;
  });
  if (it == elements_.end()) return false;

  const size_t old_end = it->end;
  html_.replace(it->begin, it->end - it->begin, text);
  it->end = it->begin + text.size();
  // Read from the page from now on: a replacement that parses as it reads is one text, and any
  // other makes the page parse again before the next.
  it->text.clear();
  it->in_place = true;
  // A located element has no element inside it, so the ranges never nest: the elements that lie
  // after it in the text move (tree order may differ from text order, hence the offset test).
  for (Element& el : elements_) {
    if (&el == &*it || el.begin < old_end) continue;
    el.begin = el.begin - old_end + it->end;
    el.end = el.end - old_end + it->end;
  }

  // A style or script text parses as one text up to the element's own end tag unless it holds
  // that end tag, or (in a script) a comment opening that switches the parser into its escaped
  // states; carriage returns, NULs and invalid UTF-8 are decoded differently from their bytes.
  bool inert = it->html_namespace && text.find('\r') == std::string_view::npos &&
               text.find('\0') == std::string_view::npos;
  if (inert && it->name == "style") {
    inert = !has_end_tag(text, "style");
  } else if (inert && it->name == "script") {
    inert = !has_end_tag(text, "script") && text.find("<!--") == std::string_view::npos;
  } else {
    inert = false;
  }
  if (inert) inert = !collected::find_invalid_utf8(text).has_value();
  stale_ = !inert;
  return true;
}

}  // namespace orvane
