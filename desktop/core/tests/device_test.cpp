// The device's id (new and inherited from the old "deviceid" file), its
// name, the user agent and the description's shape; the event sink's part.
#include <gtest/gtest.h>

#include <QObject>
#include <regex>

#include "Application.h"
#include "Device.h"
#include "TempDir.h"
#include "TestApp.h"
#include "platform/files.h"

namespace varnelo::desktop {
namespace {

namespace files = platform::files;
using test::TempDir;

TEST(DeviceTest, ANewIdIsKeptForEver) {
  TempDir dir;
  std::string id;
  {
    SettingsStore settings;
    ASSERT_TRUE(settings.open(dir.file("appconfig.db")));
    Device device(settings, dir.path());
    id = device.deviceId();
    EXPECT_TRUE(std::regex_match(
        id, std::regex("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}")))
        << id;
    EXPECT_EQ(device.deviceName(), "PC Windows");  // no host name known
    EXPECT_EQ(settings.deviceId(), id);
  }
  SettingsStore settings;
  ASSERT_TRUE(settings.open(dir.file("appconfig.db")));
  Device again(settings, dir.path());
  again.setHostName("ignored-now");
  EXPECT_EQ(again.deviceId(), id);
  EXPECT_EQ(again.deviceName(), "PC Windows");  // the stored name wins
  EXPECT_EQ(Device::formatId({0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x10, 0x32, 0x54,
                              0x76, 0x98, 0xba, 0xdc, 0xfe}),
            "{01234567-89AB-CDEF-1032-547698BADCFE}");
  EXPECT_NE(Device::newId(), Device::newId());
}

TEST(DeviceTest, AnOldDeviceIdFileIsTakenOverAndRemoved) {
  TempDir dir;
  ASSERT_FALSE(files::writeFile(dir.file("deviceid"), std::string("{OLD-ID}\0junk", 13)));
  SettingsStore settings;
  ASSERT_TRUE(settings.open(dir.file("appconfig.db")));
  Device device(settings, dir.path());
  device.setHostName("laptop");
  EXPECT_EQ(device.deviceId(), "{OLD-ID}");
  EXPECT_FALSE(files::exists(dir.file("deviceid")));
  EXPECT_EQ(settings.deviceId(), "{OLD-ID}");
  EXPECT_EQ(settings.deviceName(), "laptop");

  TempDir tiny;  // one byte is no id
  ASSERT_FALSE(files::writeFile(tiny.file("deviceid"), "x"));
  SettingsStore s2;
  ASSERT_TRUE(s2.open(tiny.file("appconfig.db")));
  Device d2(s2, tiny.path());
  EXPECT_EQ(d2.deviceId().size(), 38u);
  EXPECT_FALSE(files::exists(tiny.file("deviceid")));
}

TEST(DeviceTest, UserAgentAndDescription) {
  EXPECT_EQ(Device::userAgent("0.1.0", "x86_64", "Debian GNU/Linux 12 (bookworm), 64-bit"),
            "varnelo-win/0.1.0 (b:x86_64; o:Debian GNU/Linux 12 (bookworm), 64-bit)");
  EXPECT_EQ(Device::userAgent("", "", ""), "varnelo-win/unknown (b:unknown; o:unknown)");

  TempDir dir;
  SettingsStore settings;
  ASSERT_TRUE(settings.open(dir.file("appconfig.db")));
  Device device(settings, dir.path());
  DeviceFacts facts;
  facts.osVersion = "6.1.0";
  DeviceFacts::Cpu cpu{2400, "GenuineIntel-6-85", "GenuineIntel", 6, 85, "Xeon"};
  facts.cpus = {cpu, cpu};
  facts.memoryKnown = true;
  facts.memTotalMB = 7900;
  facts.memFreeMB = 1200;
  facts.diskKnown = true;
  facts.diskFileSystem = "ext4";
  facts.diskTotalMB = 100000;
  const std::string text = Device::compact(device.describe(facts));
  Json::Value v;
  ASSERT_TRUE(Json::Reader().parse(text, v));
  EXPECT_EQ(v["id"].asString(), device.deviceId());
  EXPECT_EQ(v["guid"].asString().size(), 38u);
  EXPECT_NE(v["guid"].asString(), v["id"].asString());
  EXPECT_EQ(v["os"]["name"].asString(), "Unknown OS Name");
  EXPECT_EQ(v["os"]["type"].asString(), "WorkStation");
  EXPECT_EQ(v["cpu"].size(), 2u);
  EXPECT_EQ(v["cpu"][1]["freq"].asInt(), 2400);
  EXPECT_EQ(v["mem"]["quota"].asInt(), 7900);
  EXPECT_EQ(v["disk"]["fs"].asString(), "ext4");
  // Compact, members in key order.
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find("\": "), std::string::npos);
  EXPECT_LT(text.find("\"cpu\""), text.find("\"disk\""));
  EXPECT_LT(text.find("\"disk\""), text.find("\"guid\""));
  EXPECT_LT(text.find("\"guid\""), text.find("\"id\""));
  EXPECT_LT(text.find("\"mem\""), text.find("\"os\""));
  EXPECT_EQ(device.reportDevice(nullptr, facts), -105);
}

class Target : public QObject {
 public:
  bool event(QEvent* e) override {
    if (!isAppMessage(e)) return QObject::event(e);
    auto* m = static_cast<AppMessage*>(e);
    got.emplace_back(m->message(), m->wParam);
    return true;
  }
  std::vector<std::pair<int, qintptr>> got;
};

TEST(EngineEventsTest, TheCoresPartOfEachReport) {
  test::coreApp();
  registerAppMessages();
  TempDir dir;
  Application app(dir.path());
  ASSERT_TRUE(app.openStores());
  Target window;
  app.setMainWindow(&window);
  IVarneloEvent& sink = app.eventSink();

  app.state().set(kAppConnecting);
  sink.result(200, nullptr);
  EXPECT_EQ(app.state().get(), kAppIdle);
  sink.result(7, "/x");
  EXPECT_EQ(app.state().get(), kAppConnecting);
  sink.statusChanged(kAppUploading);
  EXPECT_EQ(app.state().get(), kAppUploading);
  sink.result(200, nullptr);  // only from login needed or connecting
  EXPECT_EQ(app.state().get(), kAppUploading);
  sink.result(-118, nullptr);
  EXPECT_EQ(app.state().get(), kAppClientTooOld);
  sink.result(401, nullptr);
  QCoreApplication::sendPostedEvents(&window);
  EXPECT_EQ(window.got, (std::vector<std::pair<int, qintptr>>{{UM_UNLINK_DEVICE, 1}}));
  sink.fileStateChanged(dir.file("a.txt").c_str(), 1);
  sink.fileStateChanged(nullptr, 1);
  EXPECT_EQ(app.stateWorker().pending(), 1u);
}

}  // namespace
}  // namespace varnelo::desktop

namespace varnelo::desktop {
namespace {

TEST(DeviceFactsTest, ThisMachinesDescription) {
  test::TempDir dir;
  DeviceFacts facts = gatherDeviceFacts(dir.path());
  ASSERT_FALSE(facts.cpus.empty());
  for (const auto& cpu : facts.cpus) {
    EXPECT_FALSE(cpu.vendor.empty() && cpu.name.empty());
    EXPECT_GE(cpu.freqMHz, 0);
  }
  EXPECT_TRUE(facts.memoryKnown);
  EXPECT_GT(facts.memTotalMB, 0u);
  EXPECT_LE(facts.memFreeMB, facts.memTotalMB);
  ASSERT_TRUE(facts.diskKnown);
  EXPECT_FALSE(facts.diskFileSystem.empty());
  EXPECT_GT(facts.diskTotalMB, 0u);
  EXPECT_LE(facts.diskFreeMB, facts.diskTotalMB);
  EXPECT_FALSE(facts.osName.empty());
  EXPECT_NE(facts.osName.find("(build "), std::string::npos);
  if (machineArchitecture() == "x86_64") {
    EXPECT_EQ(facts.osName.substr(facts.osName.size() - 8), ", 64-bit");
  }
  EXPECT_FALSE(hostName().empty());

  SettingsStore settings;
  ASSERT_TRUE(settings.open(dir.file("appconfig.db")));
  Device device(settings, dir.path());
  Json::Value v = device.describe(facts);
  EXPECT_EQ(v["cpu"].size(), facts.cpus.size());
  for (const char* key : {"freq", "flags", "vendor", "family", "model", "name"}) {
    EXPECT_TRUE(v["cpu"][0].isMember(key)) << key;
  }
  for (const char* key : {"sn", "fs", "free", "quota", "type"}) {
    EXPECT_TRUE(v["disk"].isMember(key)) << key;
  }
  EXPECT_TRUE(v["os"]["ver"].asString().find('.') != std::string::npos);
}

}  // namespace
}  // namespace varnelo::desktop

namespace varnelo::desktop {
namespace {

class UnlinkUi : public AppUi {
 public:
  void showMain(int command) override { calls.push_back("show " + std::to_string(command)); }
  void restartWizard() override { calls.push_back("restart"); }
  void accountUnlinked() override { calls.push_back("unlinked"); }
  std::vector<std::string> calls;
};

TEST(ApplicationTest, UnlinkWaitsForNoLoginAndForgetsTheAccount) {
  test::coreApp();
  test::TempDir dir;
  Application app(dir.path());
  ASSERT_TRUE(app.openStores());
  ASSERT_EQ(app.createEngine(), 200);
  UnlinkUi ui;
  app.setUi(&ui);
  app.settings().setAccountInfo("{\"user\":{}}");
  app.stateCache().addRoot(dir.path());
  app.stateCache().setRunning(true);

  app.state().set(kAppLoginNeeded);
  EXPECT_FALSE(app.unlinkDevice(true));  // waiting for a login already: nothing to do
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_TRUE(app.stateCache().isRunning());

  app.state().set(kAppIdle);
  EXPECT_TRUE(app.unlinkDevice(true));
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"unlinked", "show 5", "restart"}));
  EXPECT_EQ(app.state().get(), kAppLoginNeeded);
  EXPECT_EQ(app.settings().accountInfo(), "");
  EXPECT_FALSE(app.stateCache().isRunning());  // emptied
  FileStateCache::Row row;
  EXPECT_FALSE(app.stateCache().lookup(FileStateCache::normalise(dir.path()), row));
  EXPECT_EQ(app.session(), nullptr);
  app.setUi(nullptr);
  app.shutdown();
  EXPECT_EQ(app.engine(), nullptr);
  EXPECT_EQ(app.state().get(), kAppStopped);
}

}  // namespace
}  // namespace varnelo::desktop
