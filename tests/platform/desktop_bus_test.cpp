// The sleep inhibitor and the desktop notifications of the running program,
// over a D-Bus daemon of the test's own with python-dbusmock's logind and
// notification daemon.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#include "platform/notifications.h"
#include "platform/sleep_inhibitor.h"
#include "tests/support/mock_desktop_bus.h"
#include "tests/support/serve_events.h"

namespace {

kv_test::MockDesktopBus* bus = nullptr;

// The bus comes before anything in the process uses D-Bus.
class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "platform_desktop_bus_tests";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QCoreApplication>(argc, argv);
    bus_ = std::make_unique<kv_test::MockDesktopBus>();
    bus = bus_.get();
  }
  void TearDown() override {
    bus = nullptr;
    bus_.reset();
    application_.reset();
  }

 private:
  std::unique_ptr<QCoreApplication> application_;
  std::unique_ptr<kv_test::MockDesktopBus> bus_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

std::vector<std::string> Reasons() {
  std::vector<std::string> reasons;
  for (const auto& inhibitor : bus->Inhibitors()) reasons.push_back(inhibitor.why);
  return reasons;
}

TEST(DesktopBus, SleepIsInhibitedExactlyWhileALockIsHeld) {
  ASSERT_TRUE(bus->Ready()) << bus->Error();
  ASSERT_TRUE(bus->Inhibitors().empty());
  auto first = platform::TheSleepInhibitor().Inhibit("Encoding job Holiday, volume 2 of 3");
  ASSERT_NE(first, nullptr);
  const auto held = bus->Inhibitors();
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].what, "sleep:idle");
  EXPECT_EQ(held[0].who, "Kestrevane");
  EXPECT_EQ(held[0].why, "Encoding job Holiday, volume 2 of 3");
  EXPECT_EQ(held[0].mode, "block");

  auto second = platform::TheSleepInhibitor().Inhibit("Analysing the DVD folder /media/dvd");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Reasons().size(), 2u);
  first.reset();
  kv_test::ServeEventsUntil([] { return Reasons().size() < 2u; });
  EXPECT_EQ(Reasons(), std::vector<std::string>{"Analysing the DVD folder /media/dvd"})
      << "releasing one lock leaves the other";
  second.reset();
  kv_test::ServeEventsUntil([] { return bus->Inhibitors().empty(); });
}

TEST(DesktopBus, NotificationsReachTheDesktopWithTheirUrgency) {
  ASSERT_TRUE(bus->Ready()) << bus->Error();
  platform::TheNotifications().Notify({"Job done", "Holiday: 3 volumes encoded.", false});
  platform::TheNotifications().Notify({"Job failed", "Holiday: Encoding failed!", true});
  kv_test::ServeEventsUntil([] { return bus->Notifications().size() >= 2u; });
  const auto shown = bus->Notifications();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].app_name, "Kestrevane");
  EXPECT_EQ(shown[0].icon, "kestrevane");
  EXPECT_EQ(shown[0].summary, "Job done");
  EXPECT_EQ(shown[0].body, "Holiday: 3 volumes encoded.");
  EXPECT_EQ(shown[0].urgency, 1);
  EXPECT_EQ(shown[1].summary, "Job failed");
  EXPECT_EQ(shown[1].urgency, 2) << "a failure stays until dismissed";
}

}  // namespace
