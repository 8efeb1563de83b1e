// The rendering stage of the report: the template with its four assets inlined and the page data
// appended, published as one file.
#include <filesystem>

#include <orvane/config.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/util.hpp>

#include "report_document.hpp"
#include "text.hpp"

namespace orvane {

NrReport::NrReport()
    : awesome_css_file_(Config::get_inst_path() + "third_party/Awesome/all.min.css"),
      bootstrap_css_file_(Config::get_inst_path() +
                          "third_party/bootstrap/bootstrap-3.3.7.min.css"),
      bootstrap_js_file_(Config::get_inst_path() + "third_party/bootstrap/bootstrap-3.3.7.min.js"),
      jquery_js_file_(Config::get_inst_path() + "third_party/jquery/jquery-2.2.0.min.js") {}

// The page is assembled in memory and written once, so a missing asset or a failed write never
// leaves a half-built report (or destroys an earlier report of the same name). The report is not
// flushed to the disk before it replaces the old one: it can always be built again, and the flush
// would take longer than the whole rendering.
void NrReport::render(const Json& info, const std::string& srcfile,
                      const std::string& outfile) const {
  ReportDocument page(read_file(srcfile));
  // Room for the whole file at once, so that neither the assets nor the page data move what
  // came before them.
  size_t room = page.html().size() + report::script_safe_json_size(info) + 256;
  for (const std::string* asset :
       {&bootstrap_css_file_, &awesome_css_file_, &jquery_js_file_, &bootstrap_js_file_}) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(*asset, ec);
    if (!ec) room += size;
  }
  page.reserve(room);
  replace_in_file(page, "bootstrap-css", bootstrap_css_file_, "style");
  replace_in_file(page, "awesome-css", awesome_css_file_, "style");
  replace_in_file(page, "jqueryjs()", jquery_js_file_, "script");
  replace_in_file(page, "bootstrapjs()", bootstrap_js_file_, "script");
  // The page data is written straight after the page, in the one buffer that goes to the file.
  std::string html = page.take_html();
  html += "\n<script type=\"text/javascript\">\nvar info = ";
  report::append_script_safe_json(info, html);
  html += "\n\nwindow.onload = init();\n</script>\n";
  AtomicFile out(outfile, /*sync=*/false);
  out.write_owned(std::move(html));
  out.commit();
}

void NrReport::replace_in_file(ReportDocument& document, const std::string& pattern,
                               const std::string& asset_file, const std::string& tag) const {
  document.replace_text(tag, pattern, read_file(asset_file));
}

}  // namespace orvane
