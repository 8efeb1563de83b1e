// The rendering stage of the report: the template with its four assets inlined and the page data
// appended, published as one file.
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
  const std::string content =
      "\n<script type=\"text/javascript\">\nvar info = " + report::script_safe_json(info) +
      "\n\nwindow.onload = init();\n</script>\n";
  ReportDocument page(read_file(srcfile));
  replace_in_file(page, "bootstrap-css", bootstrap_css_file_, "style");
  replace_in_file(page, "awesome-css", awesome_css_file_, "style");
  replace_in_file(page, "jqueryjs()", jquery_js_file_, "script");
  replace_in_file(page, "bootstrapjs()", bootstrap_js_file_, "script");
  AtomicFile out(outfile, /*sync=*/false);
  out.write(page.html());
  out.write(content);
  out.commit();
}

void NrReport::replace_in_file(ReportDocument& document, const std::string& pattern,
                               const std::string& asset_file, const std::string& tag) const {
  document.replace_text(tag, pattern, read_file(asset_file));
}

}  // namespace orvane
