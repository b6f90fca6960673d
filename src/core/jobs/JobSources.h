#pragma once

#include "JobSource.h"

#include <functional>
#include <memory>
#include <vector>

// The schedulers the scheduled-jobs screen asks, in the order their rows are shown.
namespace JobSources {

using Sources = std::vector<std::unique_ptr<JobSource>>;

// launchd (where its tool exists), then the user's and the machine's systemd managers (on the
// session and the system bus), then cron (the user's crontab and the system's tables). Each
// source that finds nothing of its kind here adds nothing.
Sources standard();

namespace testing {
// Makes standard() return what this function makes (tools that build whole windows use it); an
// empty function restores the real sources. The shipped program never calls it.
void setFactory(std::function<Sources()> factory);
} // namespace testing

} // namespace JobSources
