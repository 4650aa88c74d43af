// The process-wide objects, built at load in this order: the catalogue and
// its handler table, the client, then the log. Keeping them in one file
// fixes the order of their construction (and, reversed, of destruction).
#include "api/library.h"

#include "log/log.h"
#include "settings/catalogue.h"

namespace PevraNUV {

const std::map<int, std::u16string> KeyById = BuildKeyById();
const std::vector<HandlerEntry> HandlerTable = BuildHandlerTable();

std::atomic<SettingsClient*> g_client{SettingsClient::Create()};

std::wstring g_logFilePath;
std::wofstream g_logFile;
std::shared_ptr<CPevSemaphore> g_logLock = std::make_shared<CPevSemaphore>();
std::atomic<bool> g_logEnabled{false};

}  // namespace PevraNUV
