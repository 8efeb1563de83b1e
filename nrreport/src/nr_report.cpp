// The report builder.
namespace orvane {}
