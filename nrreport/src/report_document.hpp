#pragma once
// An HTML page whose element texts can be replaced while every byte outside the replaced ranges
// stays as it was.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// An HTML page held as its text, with the elements whose content is one text run located in it.
// The text is parsed as HTML5; a replacement splices the new text into the element's byte range,
// so untouched markup survives byte for byte. After a replacement the page is parsed again before
// the next one, unless the new text cannot change how the page parses (a style or script text
// that holds nothing which could end the element or start a comment in it), in which case the
// located elements are just shifted.
class ReportDocument {
 public:
  explicit ReportDocument(std::string html);

  // Replaces the whole text of the first element named `tag` (an element name, any letter case)
  // whose text contains `pattern`, in document order. Returns false, changing nothing, when no
  // element matches. Throws std::invalid_argument when `tag` is not an element name.
  bool replace_text(std::string_view tag, std::string_view pattern, std::string_view text);

  const std::string& html() const { return html_; }
  void reserve(size_t size) { html_.reserve(size); }
  std::string take_html() { return std::move(html_); }

  // Parse before every replacement, never shifting; for checking the shortcut against the parser.
  void set_always_reparse(bool on) { always_reparse_ = on; }

 private:
  struct Element {
    std::string name;  // lower case
    bool html_namespace = true;
    size_t begin = 0;  // byte range of the content in html_
    size_t end = 0;
    std::string text;       // the content as the parser decodes it, unless in_place
    bool in_place = false;  // the content is the text in html_ as it stands
  };

  std::string_view text_of(const Element& el) const {
    return el.in_place ? std::string_view(html_).substr(el.begin, el.end - el.begin)
                       : std::string_view(el.text);
  }

  void parse();

  std::string html_;
  std::vector<Element> elements_;  // document order
  bool stale_ = false;
  bool always_reparse_ = false;
};

}  // namespace orvane
