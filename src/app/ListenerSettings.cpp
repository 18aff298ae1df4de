#include "app/ListenerSettings.h"

#include "base/Logging.h"
#include "base/SettingsStore.h"
#include "base/Texts.h"

namespace torvane {
namespace {

constexpr int kDefaultMaxSources = 64;

}  // namespace

ListenerOptions ReadListenerOptions() {
    ListenerOptions options;
    options.address = Trim(ReadIniString("MyLaps", "Listen", ""));
    WriteIniString("MyLaps", "Listen", options.address);

    const std::string allowFrom = ReadIniString("MyLaps", "AllowFrom", "");
    WriteIniString("MyLaps", "AllowFrom", allowFrom);
    const AddressRanges allowed = ParseAddressRanges(allowFrom);
    for (const std::string& entry : allowed.refused) {
        Log(0, Format(Tr("$$$ [MyLaps] AllowFrom: \"%s\" is neither an address nor a range, "
                         "left out",
                         "$$$ [MyLaps] AllowFrom : « %s » n'est ni une adresse ni une plage, "
                         "ignorée"),
                      entry.c_str()));
    }
    // A list that names no valid address still keeps everyone else out.
    options.restrictPeers = !allowed.ranges.empty() || !allowed.refused.empty();
    options.allowFrom = allowed.ranges;

    options.maxSources = ReadIniInt("MyLaps", "MaxSources", kDefaultMaxSources);
    if (options.maxSources < 1) {
        Log(0, Format(Tr("$$$ [MyLaps] MaxSources=%d is not a number of sources: %d is used",
                         "$$$ [MyLaps] MaxSources=%d n'est pas un nombre de sources : %d est "
                         "utilisé"),
                      options.maxSources, kDefaultMaxSources));
        options.maxSources = kDefaultMaxSources;
    }
    WriteIniInt("MyLaps", "MaxSources", options.maxSources);
    return options;
}

}  // namespace torvane
