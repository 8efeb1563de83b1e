// Scene parameter scripts.
namespace orvane {}
