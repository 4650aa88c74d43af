// The value handlers.
#include "settings/catalogue.h"

namespace PevraNUV {

ValueHandler HandlerForSetting(int) { return {}; }

}  // namespace PevraNUV
