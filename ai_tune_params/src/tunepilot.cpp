// The optimisation manager.
namespace orvane {}
