#include "tools/policy.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/grant.h"
#include "foundation/calendar_date.h"
#include "foundation/keyed_archive.h"
#include "installtool/install.h"
#include "platform/linux/test_dir.h"
#include "common/history_journal.h"
#include "common/sqlite_history.h"
#include "tools/grant_command.h"
#include "tools/history_command.h"
#include "tools/policy_admin.h"
#include "tools/policy_command.h"

namespace hv {
namespace {

constexpr const char* kExample = R"({
  "allowance": {"all": 90, "weekend": 180, "fri": 120},
  "ranges": [
    {"day": "weekdays", "start": "15:00", "end": "20:00"},
    {"day": "mon", "start": "07:00", "end": "08:00"},
    {"day": "sat", "start": "9:00", "end": "21:30"}
  ],
  "network": [{"day": "all", "start": "16:00", "end": "19:00"}],
  "apps": [{"name": "firefox", "minutes": {"all": 30, "sun": 60}}, {"name": "steam.app", "minutes": 45}],
  "quota_mb": 500,
  "script": "/usr/local/sbin/clean-kid"
})";

class PolicyFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerTableElement(); }

    static Policy example() {
        PolicyParse p = parsePolicyText(kExample);
        EXPECT_FALSE(p.error) << *p.error;
        return p.policy;
    }
};

TEST_F(PolicyFormTest, TheExampleMeansWhatItSays) {
    Policy p = example();
    // Sunday first, as the daemon counts weekdays.
    EXPECT_EQ(p.allowance, (std::array<int32_t, 7>{180, 90, 90, 90, 90, 120, 180}));
    std::vector<DaySpan> ranges = {{1, 420, 480}, {1, 900, 1200}, {2, 900, 1200}, {3, 900, 1200},
                                    {4, 900, 1200}, {5, 900, 1200}, {6, 540, 1290}};
    EXPECT_EQ(p.ranges, ranges);
    EXPECT_EQ(p.network.size(), 7u);
    ASSERT_EQ(p.apps.size(), 2u);
    EXPECT_EQ(p.apps[0].name, "firefox.app");
    EXPECT_EQ(p.apps[0].minutes, (std::array<int32_t, 7>{60, 30, 30, 30, 30, 30, 30}));
    EXPECT_EQ(p.apps[1].name, "steam.app");
    EXPECT_EQ(p.quotaMb, 500);
    EXPECT_EQ(p.script, "/usr/local/sbin/clean-kid");
}

TEST_F(PolicyFormTest, MalformedPoliciesAreRefusedWithOneClearLine) {
    struct Case {
        const char* json;
        const char* says;
    } cases[] = {
        {R"({"ranges": [{"day": "mon", "start": "8:00", "end": "25:00"}]})", "ranges[0]: \"end\" must be a time"},
        {R"({"ranges": [{"day": "mon", "start": "8h", "end": "9:00"}]})", "\"start\" must be a time"},
        {R"({"ranges": [{"day": "mon", "start": "08:60", "end": "09:00"}]})", "\"start\" must be a time"},
        {R"({"ranges": [{"day": "mon", "start": "22:00", "end": "02:00"}]})", "ends before it starts"},
        {R"({"network": [{"day": "mon", "start": "10:00", "end": "10:00"}]})", "at least a minute"},
        {R"({"ranges": [{"day": "mon", "start": "00:00", "end": "00:00"}]})", "holds only midnight"},
        {R"({"ranges": [{"day": "monday", "start": "08:00", "end": "09:00"}]})", "unknown day \"monday\""},
        {R"({"ranges": [{"start": "08:00", "end": "09:00"}]})", "\"day\" is missing"},
        {R"({"allowance": {"mon": -5}})", "allowance.mon: expected whole minutes"},
        {R"({"allowance": {"mon": 2000}})", "allowance.mon"},
        {R"({"allowance": {"funday": 5}})", "unknown day \"funday\""},
        {R"({"apps": [{"name": "a", "minutes": 5}, {"name": "a.app", "minutes": 5}]})", "listed twice"},
        {R"({"apps": [{"name": ".app", "minutes": 5}]})", "no process name"},
        {R"({"apps": [{"name": "a"}]})", "\"minutes\" is missing"},
        {R"({"quota_mb": 4096})", "quota_mb"},
        {R"({"quota_mb": 0})", "quota_mb"},
        {R"({"script": 5})", "script"},
        {R"({"alowance": {}})", "unknown key \"alowance\""},
        {R"([1])", "JSON object"},
        {R"({"allowance": )", "byte offset"},
        {R"({"allowance": 1e400})", "number 1e400 is too large for a real at /allowance"},
        {R"({"allowance": {"mon": 1e-400}})", "number 1e-400 is too small for a real (it would read as 0) at /allowance/mon"},
        {R"({"quota_mb": 99999999999999999999})", "does not fit in 64 bits at /quota_mb"},
        {R"({"allowance": 60, "allowance": 90})", "duplicate key \"allowance\" at /"},
        {R"({"ranges": [{"day": "mon", "start": "08:00", "start": "09:00", "end": "10:00"}]})",
         "duplicate key \"start\" at /ranges/0"},
        {R"({"ranges": [{"day": "all", "start": "07:00", "end": "12:00"}, {"day": "sat", "start": "11:00", "end": "13:00"}]})",
         "ranges[0] (07:00-12:00) and ranges[1] (11:00-13:00) overlap on sat"},
        {R"({"network": [{"day": "mon", "start": "08:00", "end": "18:00"}, {"day": "mon", "start": "09:00", "end": "10:00"},
                         {"day": "mon", "start": "12:00", "end": "13:00"}]})",
         "network[0] (08:00-18:00) and network[1] (09:00-10:00) overlap on mon"},
        {R"({"ranges": [{"day": "weekend", "start": "07:00", "end": "12:00"}, {"day": "sun", "start": "07:00", "end": "12:00"}]})",
         "(07:00-12:00) overlap on sun"},
    };
    for (const Case& c : cases) {
        PolicyParse p = parsePolicyText(c.json);
        ASSERT_TRUE(p.error) << c.json;
        EXPECT_NE(p.error->find(c.says), std::string::npos) << c.json << " -> " << *p.error;
        EXPECT_EQ(p.error->find('\n'), std::string::npos);
    }
    PolicyParse touching = parsePolicyText(
        R"({"ranges": [{"day": "mon", "start": "08:00", "end": "12:00"}, {"day": "mon", "start": "12:00", "end": "13:00"}]})");
    EXPECT_FALSE(touching.error) << *touching.error;
}

TEST_F(PolicyFormTest, RecordsAreLaidOutWhereTheDaemonLooks) {
    Array list = policyToRecords(example(), "kid", "/home/kid/.horavel", {});
    // Limit, 2 time-range pairs (Monday has two ranges), 1 network pair, 2 applications.
    ASSERT_EQ(list.size(), 1u + 4 + 2 + 2);
    auto limit = recordAt(list, 0);
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->mmode(), Value("Limit"));
    EXPECT_EQ(limit->user(), Value("kid"));
    EXPECT_EQ(limit->path(), Value("/home/kid/.horavel"));
    EXPECT_EQ(limit->ranges(), 2);
    EXPECT_EQ(limit->netranges(), 1);
    EXPECT_EQ(limit->friday().intValue(), 120);
    EXPECT_EQ(limit->quota().longLongValue(), 500LL * 1048576);
    // Pair 0 holds each day's earliest range, pair 1 Monday's second; other days are unset (0-0).
    EXPECT_EQ(recordAt(list, 1)->monday().intValue(), 420);
    EXPECT_EQ(recordAt(list, 2)->monday().intValue(), 480);
    EXPECT_EQ(recordAt(list, 3)->monday().intValue(), 900);
    EXPECT_EQ(recordAt(list, 4)->monday().intValue(), 1200);
    EXPECT_EQ(recordAt(list, 1)->tuesday().intValue(), 900);
    EXPECT_EQ(recordAt(list, 3)->tuesday().intValue(), 0);
    EXPECT_EQ(recordAt(list, 4)->tuesday().intValue(), 0);
    EXPECT_EQ(recordAt(list, 1)->sunday().intValue(), 0);
    EXPECT_EQ(recordAt(list, 2)->sunday().intValue(), 0);
    EXPECT_EQ(recordAt(list, 5)->sunday().intValue(), 960);
    EXPECT_EQ(recordAt(list, 6)->sunday().intValue(), 1140);
    for (size_t i = 1; i <= 6; ++i) {
        EXPECT_NE(recordAt(list, i)->mmode(), Value("Limit"));
        EXPECT_NE(recordAt(list, i)->mmode(), Value("App"));
    }
    EXPECT_EQ(recordAt(list, 7)->mmode(), Value("App"));
    EXPECT_EQ(recordAt(list, 7)->user(), Value("firefox.app"));
    EXPECT_EQ(recordAt(list, 7)->sunday().intValue(), 60);
}

TEST_F(PolicyFormTest, TheDaemonsReaderGetsBackTheSameRules) {
    Policy original = example();
    auto archive = keyedArchive(Value(policyToRecords(original, "kid", "/home/kid/.horavel", {})));
    ASSERT_TRUE(archive);
    DecodeResult decoded = keyedUnarchive(*archive);
    ASSERT_TRUE(decoded.ok()) << decoded.error->message;
    ASSERT_TRUE(decoded.value.array());
    const Array& list = *decoded.value.array();
    for (size_t i = 0; i < list.size(); ++i) EXPECT_TRUE(recordAt(list, i)) << i;
    RecordsParse back = recordsToPolicy(list);
    ASSERT_FALSE(back.error) << *back.error;
    EXPECT_EQ(back.policy, original);

    PolicyParse again = parsePolicyJson(policyToJson(back.policy));
    ASSERT_FALSE(again.error) << *again.error;
    EXPECT_EQ(again.policy, original);
}

TEST_F(PolicyFormTest, ShortOrOddListsAreReadWithoutFault) {
    auto limit = std::make_shared<TableElement>();
    limit->setRanges(1000000);
    limit->setNetRanges(-4);
    RecordsParse r = recordsToPolicy(Array{Value(std::shared_ptr<Object>(limit))});
    ASSERT_FALSE(r.error);
    EXPECT_TRUE(r.policy.ranges.empty());
    EXPECT_TRUE(recordsToPolicy(Array{}).error);
    EXPECT_TRUE(recordsToPolicy(Array{Value("x")}).error);
    auto app = std::make_shared<TableElement>();
    app->setMmode(Value("App"));
    EXPECT_TRUE(recordsToPolicy(Array{Value(std::shared_ptr<Object>(app))}).error);
}

class PolicyCommandTest : public PolicyFormTest {
protected:
    PolicyCommandTest() {
        config_.homeRoot = dir_.path();
        config_.settingsFile = dir_.file(".Tovik2.stat");
        config_.pidFile = dir_.file("horavel.pid");
        config_.storeRoot = dir_.file("store");
        ::mkdir(dir_.file("root").c_str(), 0755);
        std::ofstream(dir_.file("policy.json")) << kExample;
    }

    Installer installer() {
        return [this](std::string_view archive) -> std::optional<std::string> {
            InstallResult r = install(archive, config_);
            if (r.exitStatus() != 0) return std::string("install failed");
            return std::nullopt;
        };
    }

    TestDir dir_;
    Config config_;
};

TEST_F(PolicyCommandTest, SetThenShowGivesTheSameRules) {
    std::ostringstream out, err;
    ASSERT_EQ(runPolicySet(config_, "root", dir_.file("policy.json"), installer(), out, err), 0) << err.str();
    EXPECT_NE(out.str().find("keeplimit is off"), std::string::npos) << out.str();
    std::ofstream(config_.settingsFile) << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>keeplimit</key><integer>1</integer></dict></plist>
)";
    std::ostringstream again;
    ASSERT_EQ(runPolicySet(config_, "root", dir_.file("policy.json"), installer(), again, err), 0) << err.str();
    EXPECT_EQ(again.str().find("keeplimit"), std::string::npos) << again.str();
    struct stat st {};
    ASSERT_EQ(::stat(config_.policyPath("root").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    std::ostringstream json;
    ASSERT_EQ(runPolicyShow(config_, "root", true, json, err), 0) << err.str();
    PolicyParse shown = parsePolicyText(json.str());
    ASSERT_FALSE(shown.error) << *shown.error;
    EXPECT_EQ(shown.policy, example());

    std::ostringstream table;
    ASSERT_EQ(runPolicyShow(config_, "root", false, table, err), 0) << err.str();
    for (const char* line : {"Allowance (min)     90   90   90   90  120  180  180",
                             "  Mon  07:00-08:00  15:00-20:00\n", "  Sat  09:00-21:30\n", "  Sun  none\n",
                             "  Sun  16:00-19:00\n", "  firefox.app       30   30   30   30   30   30   60",
                             "Disk quota: 500 MB\n", "Script: /usr/local/sbin/clean-kid\n", "Usage today: 0 min"}) {
        EXPECT_NE(table.str().find(line), std::string::npos) << line << "\n" << table.str();
    }
    EXPECT_EQ(table.str().find("Note:"), std::string::npos) << table.str();
    for (const std::string& line : {"Policy of root (" + config_.storePolicyPath("root") + ")\n",
                                     std::string("Kept in the root-held store")}) {
        EXPECT_NE(table.str().find(line), std::string::npos) << line << "\n" << table.str();
    }

    // An account the store does not hold yet is shown from its home file, with what that means.
    std::filesystem::remove_all(config_.storeRoot);
    ::chmod(config_.policyPath("root").c_str(), 0664);
    std::ostringstream untrusted;
    ASSERT_EQ(runPolicyShow(config_, "root", false, untrusted, err), 0) << err.str();
    EXPECT_NE(untrusted.str().find("mode 0664): its limits apply, but the daemon will not run its script"),
              std::string::npos)
        << untrusted.str();
}

TEST_F(PolicyCommandTest, GrantAddsToTodaysAllowanceInTheStoreAndSignals) {
    const double monday = 1796644800;  // 2026-12-07 12:00 UTC: Monday, allowance 90, in any zone
    std::ostringstream out, err;
    int signals = 0;
    auto daemonRuns = [&] { return ++signals, true; };
    EXPECT_EQ(runGrant(config_, "root", 15, monday, daemonRuns, out, err), 1);
    EXPECT_EQ(err.str(), "horavelctl grant: root has no policy in the store (horavelctl policy set root FILE first)\n");
    Outcome<int32_t> unmanaged = grantToday(config_, "root", 15, monday, daemonRuns, out);
    ASSERT_TRUE(unmanaged.error);
    EXPECT_EQ(unmanaged.error->kind, CommandError::Kind::Invalid);
    EXPECT_EQ(unmanaged.error->line + "\n", err.str());
    ASSERT_EQ(runPolicySet(config_, "root", dir_.file("policy.json"), installer(), out, err), 0) << err.str();
    // A save of the daemon from before the grants, still in its journal.
    std::string error;
    ASSERT_TRUE(HistoryJournal(config_.storeHistoryJournalPath())
                    .write(HistoryWrite{{{"root", localDay(monday), 3, 90, 0, {}}}, {}, {}}, error))
        << error;

    std::ostringstream given;
    ASSERT_EQ(runGrant(config_, "root", 15, monday, daemonRuns, given, err), 0) << err.str();
    EXPECT_EQ(given.str(), "root may use 105 minutes today (allowance 90, grant +15).\n");
    ASSERT_EQ(runGrant(config_, "root", 10, monday, [] { return false; }, given, err), 0) << err.str();
    EXPECT_EQ(signals, 1);
    EXPECT_NE(given.str().find("115 minutes today (allowance 90, grant +25).\nNote: horaveld is not running"),
              std::string::npos) << given.str();
    const std::string path = config_.storeGrantPath("root");
    std::ifstream file(path);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, formatGrant(Grant{localDay(monday), 25}));
    EXPECT_EQ(grantToday(config_, "root", 5, monday, daemonRuns, given).value, 30);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // Taken away, never below none at all; the next day starts from no grant.
    std::ostringstream taken;
    ASSERT_EQ(runGrant(config_, "root", -1000, monday, daemonRuns, taken, err), 0);
    EXPECT_EQ(taken.str(), "Today's grant is limited to -90 minutes (from minus the day's allowance to a whole day).\n"
                           "root may use 0 minutes today (allowance 90, grant -90).\n");
    std::ostringstream tuesday;
    ASSERT_EQ(runGrantShow(config_, "root", monday + 86400, tuesday, err), 0);
    EXPECT_EQ(tuesday.str(), "root may use 90 minutes today (allowance 90, grant 0).\n");

    // Each grant is an event of the day's history with the minutes it changed; the daemon's save
    // from before them was folded in first and does not put back the grant it knew.
    std::ostringstream notes;
    const std::optional<Json> history = historyJson(config_, "root", 1, monday, notes).value;
    ASSERT_TRUE(history);
    const Json& day = (*history)["days"][0];
    EXPECT_EQ(day["used"], 3);
    EXPECT_EQ(day["granted"], -90);
    EXPECT_EQ(day["allowance"], 90);
    std::vector<std::string> changes;
    for (const Json& event : day["events"]) {
        EXPECT_EQ(event["kind"], "grant");
        changes.push_back(event["detail"]);
    }
    EXPECT_EQ(changes, (std::vector<std::string>{"15", "10", "5", "-120"}));
}

TEST_F(PolicyCommandTest, HistoryGivesEveryDayWithItsMinutesApplicationsAndTheWeeksTotal) {
    const double monday = 1796644800;  // 2026-12-07 12:00 UTC
    const int today = localDay(monday);
    std::ostringstream out, err;
    ASSERT_EQ(runPolicySet(config_, "root", dir_.file("policy.json"), installer(), out, err), 0) << err.str();
    // The daemon's saves wait in its journal; the login check and grants write the database.
    SqliteHistory store(config_.storeHistoryPath(), 100);
    HistoryJournal journal(config_.storeHistoryJournalPath());
    std::string error;
    ASSERT_TRUE(store.write(HistoryWrite{{},
                                         {{"root", shiftDay(today, -6), "2026-12-01T18:00:00", "login-refused", ""},
                                          {"root", shiftDay(today, -2), "2026-12-05T08:00:00", "login-refused", ""}},
                                         {}},
                            error))
        << error;
    ASSERT_TRUE(journal.write(HistoryWrite{{{"root", shiftDay(today, -7), 100, 90, 0, {}},
                                            {"root", shiftDay(today, -6), 42, 90, 15, {{"supertuxkart.app", 20}, {"chess.app", 5}}},
                                            {"root", today, 10, 90, 0, {}},
                                            {"other", today, 77, 90, 0, {}}},
                                           {{"root", shiftDay(today, -6), "2026-12-01T17:03:00", "warning", ""}},
                                           {}},
                              error))
        << error;

    // A fold that cannot take the journal's lock is said once, and the read goes on without it.
    {
        const int holder = ::open(config_.storeHistoryJournalPath().c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        std::ostringstream notes;
        const std::optional<Json> without = historyJson(config_, "root", 8, monday, notes).value;
        ::close(holder);
        ASSERT_TRUE(without);
        EXPECT_EQ((*without)["days"][1]["used"], 0);
        EXPECT_EQ(notes.str(), "horavelctl history: the daemon's latest history is not shown: " +
                                   config_.storeHistoryJournalPath() + " is locked by another writer or fold\n");
    }

    std::ostringstream notes;
    const std::optional<Json> history = historyJson(config_, "root", 8, monday, notes).value;
    ASSERT_TRUE(history);
    EXPECT_EQ(notes.str(), "");
    EXPECT_EQ(std::filesystem::file_size(config_.storeHistoryJournalPath()), 0u) << "folded in and emptied";
    EXPECT_EQ((*history)["user"], "root");
    EXPECT_EQ((*history)["total"], 52) << "the last 7 days only";
    const Json& days = (*history)["days"];
    ASSERT_EQ(days.size(), 8u);
    for (size_t i = 0; i < days.size(); ++i) {
        const int day = shiftDay(today, static_cast<int>(i) - 7);
        EXPECT_EQ(days[i]["date"], isoDay(day));
        // A date without counts shows what the policy allows on its weekday.
        const auto allows = todaysAllowance(config_, "root", monday + (static_cast<double>(i) - 7) * 86400);
        ASSERT_TRUE(allows);
        if (i != 0 && i != 1 && i != 7) {
            EXPECT_EQ(days[i]["allowance"], allows->allowance) << days[i].dump();
        }
    }
    EXPECT_EQ(days[0]["used"], 100);
    EXPECT_EQ(days[1].dump(),
              R"({"date":"2026-12-01","used":42,"allowance":90,"granted":15,"apps":{"chess.app":5,"supertuxkart.app":20},)"
              R"("events":[{"time":"2026-12-01T17:03:00","kind":"warning","detail":""},)"
              R"({"time":"2026-12-01T18:00:00","kind":"login-refused","detail":""}]})")
        << "in time order, though the warning was folded in after the refused login was written";
    EXPECT_EQ(days[5]["used"], 0);
    EXPECT_EQ(days[5]["events"][0]["kind"], "login-refused");
    EXPECT_EQ(days[7]["used"], 10);

    std::ostringstream text;
    ASSERT_EQ(runHistory(config_, "root", 7, false, monday, text, err), 0) << err.str();
    std::vector<std::string> lines;
    std::istringstream read(text.str());
    for (std::string line; std::getline(read, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 8u) << text.str();
    EXPECT_EQ(lines[0], "Tue 2026-12-01    42 / 105  min  [########------------]  chess 5 min, supertuxkart 20 min");
    EXPECT_EQ(lines[6], "Mon 2026-12-07    10 / 90   min  [##------------------]");
    EXPECT_EQ(lines[7], "Total of the last 7 days: 52 min");

    struct Refused {
        std::string user;
        uint32_t days;
        std::string error;
    } refused[] = {{"a/b", 7, "horavelctl history: \"a/b\" is not an account name\n"},
                   {"root", 0, "horavelctl history: --days must be from 1 to 400 (the days the history keeps)\n"},
                   {"root", 401, "horavelctl history: --days must be from 1 to 400 (the days the history keeps)\n"}};
    for (const Refused& r : refused) {
        std::ostringstream none, why;
        EXPECT_EQ(runHistory(config_, r.user, r.days, true, monday, none, why), 1);
        EXPECT_EQ(why.str(), r.error);
        EXPECT_EQ(none.str(), "");
    }
}

TEST_F(PolicyCommandTest, ListShowsEveryManagedAccountAndRemoveTakesAllOfItsFiles) {
    const double monday = 1796644800;  // allowance 90
    std::ostringstream out, err;
    ASSERT_EQ(runPolicyList(config_, monday, out, err), 0);
    EXPECT_EQ(out.str(), "No managed accounts (the store " + config_.storeRoot + " holds no policy).\n");
    ASSERT_EQ(runPolicySet(config_, "root", dir_.file("policy.json"), installer(), out, err), 0) << err.str();
    ASSERT_EQ(runGrant(config_, "root", 5, monday, [] { return true; }, out, err), 0) << err.str();
    ::mkdir((config_.storeRoot + "/policies/x\nroot").c_str(), 0700);  // no entry: not listed

    std::ostringstream listed;
    ASSERT_EQ(runPolicyList(config_, monday, listed, err), 0) << err.str();
    EXPECT_EQ(listed.str(), "root            used 0 min of 95 (allowance 90, grant +5)\n");
    // The settings application's list: the managed account whatever its uid, ordinary accounts as
    // candidates, system accounts and nobody left out.
    Outcome<Json> accounts = accountsJson(
        config_, monday, {{"root", 0}, {"pat", 1001}, {"nobody", 65534}, {"daemon", 1}, {"ann", 1000}});
    ASSERT_FALSE(accounts.error) << accounts.error->line;
    EXPECT_EQ(*accounts.value, Json::parse(R"([{"name": "ann", "uid": 1000, "managed": false},
        {"name": "pat", "uid": 1001, "managed": false},
        {"name": "root", "uid": 0, "managed": true, "today": {"used": 0, "allowance": 90, "granted": 5}}])"));
    Outcome<Json> stored = storedPolicyJson(config_, "root");
    ASSERT_FALSE(stored.error) << stored.error->line;
    EXPECT_EQ(*stored.value, policyToJson(example()));

    int signals = 0;
    std::ostringstream removed;
    ASSERT_EQ(runPolicyRemove(config_, "root", [&] { return ++signals, true; }, removed, err), 0) << err.str();
    EXPECT_EQ(signals, 1);
    for (const std::string& path : {config_.storePolicyPath("root"), config_.storeGrantPath("root"),
                                    config_.policyPath("root")}) {
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    std::ostringstream none;
    ASSERT_EQ(runPolicyList(config_, monday, none, err), 0);
    EXPECT_EQ(none.str(), "No managed accounts.\n");
    std::ostringstream again;
    EXPECT_EQ(runPolicyRemove(config_, "root", [] { return true; }, out, again), 1);
    EXPECT_EQ(again.str(), "horavelctl policy: root has no policy in the store\n");
    for (const std::optional<CommandError>& unmanaged :
         {removePolicy(config_, "root", [] { return true; }, out), storedPolicyJson(config_, "root").error}) {
        ASSERT_TRUE(unmanaged);
        EXPECT_EQ(unmanaged->kind, CommandError::Kind::Invalid);
        EXPECT_EQ(unmanaged->line + "\n", again.str());
    }
    EXPECT_EQ(accountsJson(config_, monday, {{"root", 0}}).value, Json::array());
}

TEST_F(PolicyCommandTest, TodaysUsageSurvivesAChangeOfRules) {
    auto limit = std::make_shared<TableElement>();
    limit->setUsage(Value::integer(42));
    CalendarDate now(static_cast<double>(::time(nullptr)));
    limit->setDate(Value(now.toValue()));
    auto app = std::make_shared<TableElement>();
    app->setMmode(Value("App"));
    app->setUser(Value("firefox.app"));
    app->setUsage(Value::integer(7));
    app->setDate(Value(now.toValue()));
    auto old = keyedArchive(Value(Array{Value(std::shared_ptr<Object>(limit)), Value(std::shared_ptr<Object>(app))}));
    ASSERT_TRUE(old);
    std::ofstream(config_.policyPath("root"), std::ios::binary) << *old;

    std::ostringstream out, err, table;
    ASSERT_EQ(runPolicySet(config_, "root", dir_.file("policy.json"), installer(), out, err), 0) << err.str();
    ASSERT_EQ(runPolicyShow(config_, "root", false, table, err), 0) << err.str();
    EXPECT_NE(table.str().find("Usage today: 42 min"), std::string::npos) << table.str();
    EXPECT_NE(table.str().find("used today 7 min"), std::string::npos) << table.str();
}

TEST_F(PolicyCommandTest, UnknownUsersAndBadFilesAreRefused) {
    int installs = 0;
    Installer counting = [&](std::string_view) -> std::optional<std::string> {
        ++installs;
        return std::nullopt;
    };
    constexpr auto kInvalid = CommandError::Kind::Invalid;
    struct Case {
        std::string user;
        std::string json;
        const char* says;
        CommandError::Kind kind;  // as the admin service reports it
    } cases[] = {
        {"no-such-user-here", "{}", "no such user \"no-such-user-here\"", kInvalid},
        {"../root", "{}", "no such user", kInvalid},
        {"root", R"({"ranges": [{"day": "mon", "start": "8", "end": "9:00"}]})", "\"start\" must be a time", kInvalid},
        {"root", R"({"allowance": [1e400]})", "number 1e400 is too large for a real at /allowance/0", kInvalid},
        {"root", R"({"allowance": 1, "allowance": 2})", "duplicate key \"allowance\" at /", kInvalid},
        {"daemon", "{}", "no folder", CommandError::Kind::Failed},
    };
    for (const Case& c : cases) {
        std::ofstream(dir_.file("bad.json")) << c.json;
        std::ostringstream out, err;
        EXPECT_EQ(runPolicySet(config_, c.user, dir_.file("bad.json"), counting, out, err), 1) << c.says;
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        std::string message = err.str();
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        std::optional<CommandError> error = installPolicy(config_, c.user, c.json, dir_.file("bad.json"), counting, out);
        ASSERT_TRUE(error) << c.says;
        EXPECT_EQ(error->kind, c.kind) << c.says;
        EXPECT_EQ(error->line + "\n", message);
    }
    EXPECT_EQ(installs, 0);

    std::ostringstream out, err;
    EXPECT_EQ(runPolicyShow(config_, "nobody-at-all", false, out, err), 1);
    ::symlink("/etc/passwd", config_.policyPath("root").c_str());
    std::ostringstream err2;
    EXPECT_EQ(runPolicyShow(config_, "root", false, out, err2), 1);
    EXPECT_NE(err2.str().find("link"), std::string::npos) << err2.str();
}

}  // namespace
}  // namespace hv
