#include "Models.h"
#include "Printing.h"

#include <gtest/gtest.h>

namespace {

ServicePort record(std::optional<QString> appName, std::optional<QString> workingDir)
{
    return ServicePort{
        QUuid::createUuid(),  8080, "TCP", "*", 42, "node", "dev", std::move(appName), std::nullopt,
        std::move(workingDir)};
}

} // namespace

TEST(ServicePort, DerivedTexts)
{
    EXPECT_EQ(record(std::nullopt, std::nullopt).displayName(), "node");
    EXPECT_EQ(record(QString(), std::nullopt).displayName(), "");
    EXPECT_EQ(record("终端", std::nullopt).displayName(), "终端");

    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", "/home/dev");
    const std::vector<std::pair<std::optional<QString>, std::optional<QString>>> cases{
        {std::nullopt, std::nullopt},
        {"/home/dev", "~"},
        {"/home/dev/", "~/"},
        {"/home/dev/src", "~/src"},
        {"/home/devx/y", "/home/devx/y"},
        {"/srv/home/dev", "/srv/home/dev"},
    };
    for (const auto& [dir, shown] : cases) {
        EXPECT_EQ(record(std::nullopt, dir).displayWorkingDir(), shown);
        EXPECT_EQ(record(std::nullopt, dir).workingDirSortKey(), dir.value_or(""));
    }
    // Read afresh on every call; compared by characters.
    qputenv("HOME", "/home/开发者");
    EXPECT_EQ(record(std::nullopt, "/home/开发者/项目").displayWorkingDir(), "~/项目");
    qputenv("HOME", savedHome);
}

TEST(ServicePort, EqualityAndHashCoverEveryField)
{
    const ServicePort base = record("App", "/w");
    EXPECT_EQ(qHash(base), qHash(ServicePort(base)));
    std::vector<ServicePort> variants(10, base);
    variants[0].id = QUuid::createUuid();
    variants[1].port = 8081;
    variants[2].networkProtocol = "UDP";
    variants[3].address = "::1";
    variants[4].pid = 43;
    variants[5].command = "deno";
    variants[6].user = "root";
    variants[7].appName = std::nullopt;
    variants[8].bundleID = QString(); // present but empty differs from absent
    variants[9].workingDir = std::nullopt;
    for (const auto& other : variants) {
        EXPECT_NE(other, base);
        EXPECT_NE(qHash(other), qHash(base));
    }
}
