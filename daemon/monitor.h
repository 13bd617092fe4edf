#pragma once

// Monitor: the daemon's one object. It follows the console user, counts that user's minutes of
// use, warns, ends the session when the allowance or the allowed time ranges are used up, enforces
// network ranges, application allowances and the disk quota, and publishes the time left.
//
// Every method runs on the daemon's one thread, from the run loop (timers, power events, signals
// delivered between callbacks). Members are public: they are the daemon's state, and tests set
// and inspect them directly.
//
// Numbers follow the daemon's arithmetic: counters are unsigned 32-bit and wrap as such; `nrmin`
// is stored unsigned but read as signed (-1: no network range applies, -2: outside the network
// range); `starttime` and `endtime` are minutes after midnight. Texts that may be absent are
// std::optional: an absent text equals no other text and formats as "(null)".

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/grant.h"
#include "common/history.h"
#include "foundation/calendar_date.h"
#include "foundation/value.h"
#include "daemon/process_table.h"
#include "platform/config.h"
#include "platform/system.h"

namespace hv {

// The header of every notice the daemon shows.
inline constexpr const char* kNoticeHeader = "Wardelin Session Information";
// Seconds between ticks, and the wait between a logout notice and the logout itself.
inline constexpr double kTickInterval = 5.0;
inline constexpr double kLogoutDelay = 15.0;
// Seconds after a logout before whatever the account still runs is killed, and after an
// application's SIGTERM before what ignored it gets SIGKILL.
inline constexpr double kLogoutKillDelay = 10.0;
inline constexpr double kApplicationKillDelay = 5.0;
// Size of the remaining-time segment.
inline constexpr size_t kChannelSize = 1024;
// The remaining-time record's `warn` word: 1 once the user has been warned; 2 added while no time
// is left (an allowance or a time range used up), when `rmin` and `rsec` are 0. The 2 tells that
// state apart from the 0 and 0 of a day without an allowance ("no limit"); readers that only test
// the word for non-zero show it as warned, and numeric ones as 00:00:00.
inline constexpr int32_t kRecordWarned = 1;
inline constexpr int32_t kRecordNoTimeLeft = 2;
// Largest policy or settings file the daemon reads.
inline constexpr size_t kMaxFileBytes = 1 << 20;

// "%@" of an optional text: the text, or "(null)" when absent.
std::string formatObject(const std::optional<std::string>& text);

// The one log line that says what the daemon removed from the channel's key and name before making
// its own, e.g. "channel taken back: removed segment 1500 created by uid 4201 and semaphore 1500
// owned by uid 4201".
std::string channelSquatLine(const ChannelSquat& removed, const Config& config);

// The user id of the first user-database entry with exactly this name, or -1.
int32_t uidByName(System& system, const std::string& name);

class Monitor {
public:
    // Schedules the 5-second tick, registers for power events and opens the remaining-time
    // channel (logging what another account had put at its key or name and was removed); loads
    // neither settings nor policy (main does, in that order).
    Monitor(System& system, const Config& config);
    // Releases the channel (the platform detaches the segment, removes it when nobody else is
    // attached, and closes the semaphore without unlinking its name).
    ~Monitor();

    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Settings file -> the settings variables; creates the disk timer once; logs
    // "preferences loaded".
    void loadUserStatus();
    // The console user's policy -> `user`, `userlist`; sets `switched`. A managed account's
    // policy comes from the root-held store only (its previous copy when the entry is unusable);
    // any other account's from its home file, which is imported into the store when root alone
    // could have written it.
    void loadUserData();
    // The console user's name; nullopt when nobody (or only a greeter) is at the console.
    std::optional<std::string> userCurrent();
    // Adds one minute to the record at index, stamps it with now and saves the whole list for
    // `name`. Nothing happens when `name` is not the loaded user or the index is out of range.
    void updateUser(const std::optional<std::string>& name, int32_t index);
    // The two halves of updateUser: countMinute adds the minute and the stamp in memory (false
    // when the index is out of range) and marks the list unsaved; saveUserList writes the whole
    // list for `name`, which must be the loaded user: to the store and then the home copy for a
    // managed account, to the home file otherwise (never over a root-owned file that has
    // replaced the one loaded, which the pending reload is to read). A failed save is logged
    // once and leaves the list unsaved.
    bool countMinute(int32_t index);
    void saveUserList(const std::optional<std::string>& name);
    // The tick's one save: the list when minutes were counted since the last save, and a failed
    // save again once a minute has passed; then the history (saveHistory).
    void saveIfUnsaved();
    // The history's part of the save, in one write: the loaded account's day as it stands when
    // minutes were counted since the last write, every day and event still waiting, and once per
    // date the pruning of days older than kHistoryDays. A failed write is logged once (until one
    // succeeds again), keeps what waits and is tried again once a minute has passed.
    void saveHistory();
    // Records an event of the loaded account's day at the current moment, written with the
    // next save.
    void recordEvent(const char* kind, const std::string& detail = "");

    // The 5-second tick.
    void userMonitor();
    // Midnight: every record's stored usage starts afresh (reset, then counted as one minute
    // stamped now); the tick saves the list.
    void clearToday();

    // Expands a template into `message`: "%u" "%a" "%w" "%m" "%l" "%sr" "%er" "%g", first
    // occurrence of each, in that order. An absent template gives an empty message.
    void makeMessage(const std::optional<std::string>& templ);
    // Shows `message` as a caution notice (timeout `timeout`) or a stop notice (timeout 1.0).
    void showCautionNotice();
    void showStopNotice();

    // The pid of `user`'s first process that is the application `name` (see isApplication); 0
    // when none or when the process table cannot be read.
    int32_t findProcess(const std::string& name, const std::optional<std::string>& user);
    // Every process of `user` that is the application `name`, in /proc order; empty when none, or
    // when the process table cannot be read.
    std::vector<ProcessEntry> applicationProcesses(const std::string& name,
                                                   const std::optional<std::string>& user);
    // Ends the account of `user` everywhere, whoever is at the console: every session through
    // logind (or, when logind cannot be reached, "kill %d" of the console session's leader and
    // SIGTERM to each of the account's processes), and whatever it still runs
    // kLogoutKillDelay seconds later is killed by a later tick. Logs "terminate loginwindow pid
    // %d" with the leader of the account's console session (0 when it is not at the console).
    void userLogout();
    // Takes every request that `horavelctl logout` left (Config::storeLogoutDirectory): each is
    // removed, then its account is ended as userLogout ends the console user's, at once and
    // without a notice, with "logout of %@ requested" logged first. Only a root-owned file whose
    // name can be an account's counts; others are removed and logged. Run on SIGHUP.
    void takeLogoutRequests();
    // Sends SIGTERM to each process now; what is still the same process kApplicationKillDelay
    // seconds later gets SIGKILL from a later tick. Returns how many were told to end now (a
    // process already waiting for its SIGKILL is not told again).
    size_t endProcesses(const std::vector<ProcessEntry>& processes);
    // The tick's part of the two deadlines above: acts on every one that has come, with monitoring
    // on or off (an ending begun is finished).
    void killOverdue();
    // This tick's look at the process table, holding `uid`'s processes (with the executables
    // that command names leave open when `withExecutables`). Within a tick every lookup shares
    // one scan, widened only when a lookup needs more than it holds; outside a tick each lookup
    // scans afresh. nullptr when the table cannot be read.
    const ProcessTable* processTable(uid_t uid, bool withExecutables);
    // The uid of the account `name` (uidByName), read from the user database once per tick and
    // shared by the tick's lookups of the same account; outside a tick read afresh. -1 when the
    // database lacks the name.
    int32_t accountUid(const std::string& name);
    // The names (before ".app") of the application records of `userlist`, in list order.
    std::vector<std::string> watchedApplications() const;

    // The monitors: time ranges, network ranges, applications, disk quota. `index` is the limit
    // record's index in `userlist`.
    void checkTimeRange(int32_t index);
    void checkNetRange(int32_t index);
    // Logs "monitor %@ / %@" for each IPv4 record of an interface that is up and not a loopback;
    // the last one is `interface`.
    void getInterface();
    // Network on: lifts the firewall rule of the account whose network is off and brings up every
    // interface the daemon switched off, whichever method switched them; logs "network on for
    // %@" when the network was off. A rule that cannot be lifted leaves `ifStatus` false, so the
    // next check tries again.
    void interfaceUp();
    // Network off for the loaded user, by `netmethod`: the firewall rejects the account's traffic
    // on every interface (installed once, on the change of state), or every interface that is up
    // and not a loopback is switched off with "ifconfig %@ down" (on every call, so one that came
    // up since is switched off too). Logs "network off for %@" on the change of state.
    void interfaceDown();
    // Whether network ranges are enforced by the firewall ("netmethod" other than "interface").
    bool firewallMethod() const;
    void checkApps();
    // Ends every process of each application whose minutes are used up today (the ticks between
    // application minutes).
    void endUsedUpApplications();
    void checkDiskUsage();

    // SIGUSR1 / SIGUSR2: log "enabled" / "disabled" and reload the settings.
    void watchEnable();
    void watchDisable();
    // Power events: record sleep and wake for the tick to charge.
    void sleepNotification(PowerEvent event);

    // Publishes rmin, nmin, warn, rsec on the remaining-time channel: `warn` as above; `rmin`
    // -1 (hide) when "hideremain" is 1 and no limit counts down today (`timeLimited` false).
    void showRemain();

    // Appends "<24-char local ctime> <message>\n" to the log file; failures are silent.
    void logIt(const std::string& message);

    // The current moment in local time, from the system clock.
    CalendarDate calendarDate() const;

    System& system;
    const Config config;

    // Flags.
    bool isRunning = false;
    bool warning = false;
    bool appwarndone = false;
    bool switched = false;
    bool ifStatus = true;
    // Whether the repeating tick timer and the disk timer have been created.
    bool timer = false;
    bool diskmontimer = false;

    // The console user's policy list; elements are shared TableElement records.
    Array userlist;
    // The console user whose policy is loaded: "" before the first load, absent when nobody.
    std::optional<std::string> user = std::string();
    std::optional<std::string> appname;
    std::optional<std::string> cleanup;
    // Message templates, from the settings.
    std::optional<std::string> warn;
    std::optional<std::string> appwarn;
    std::optional<std::string> ranges;
    std::optional<std::string> logout;
    std::optional<std::string> diskfull;
    std::optional<std::string> grantmsg;
    // The text last expanded by makeMessage.
    std::optional<std::string> message;
    std::optional<std::string> interface;
    // How network ranges are enforced: "interface", or the firewall (any other value, or none).
    std::optional<std::string> netmethod;
    // The account whose network is off, the uid the firewall blocks for it, and the interfaces
    // switched off for it, each until the network is on again (across reloads of the policy).
    std::optional<std::string> networkOffFor;
    std::optional<uid_t> blockedUid;
    std::vector<std::string> switchedOff;

    // The seconds towards the next minute that each user had counted when their policy was
    // last replaced, and when. The first tick of a user who is back the same day (with today's
    // stored usage) starts from them rather than from 0.
    struct CarriedSeconds {
        uint32_t seconds = 0;
        double at = 0;
    };
    std::map<std::string, CarriedSeconds> carriedSeconds;
    // The local date (yyyymmdd) of the last reset of the day's counts: the reset runs when the
    // date moves past it, so a clock stepped back, a midnight hour that repeats and a sleep
    // across midnight each reset at most once.
    std::optional<int> lastResetDay;
    // The highest count of minutes each account has been given on a day. Usage never goes
    // backwards within a day: a reload that finds less (a failed save, a stashed file, a file
    // replaced by an older one) goes on from this.
    struct DayCount {
        int day = 0;
        uint32_t minutes = 0;
    };
    std::map<std::string, DayCount> todaysHighest;
    // The loaded managed account's grant (read from the store with the policy; it counts on its
    // own date only), the minutes the last grant notice announced ("%g"), and per account the
    // grant last announced, so each change is announced once and a reload announces nothing new.
    std::optional<Grant> grant;
    int32_t grantmin = 0;
    std::map<std::string, Grant> grantsShown;

    uint32_t status = 0;
    uint32_t amin = 0;
    uint32_t umin = 0;
    uint32_t uminsec = 0;
    // Minutes and seconds left, never below 0.
    uint32_t rmin = 0;
    uint32_t rminsec = 0;
    // Whether rmin counts down a limit this tick: today's allowance, or a time range that stands
    // in for it. When false, rmin 0 means no limit rather than no time left.
    bool timeLimited = false;
    uint32_t nrmin = 0;
    // While the network is off: the minute of the day at which the next network range begins
    // today, or -1 when none does.
    int32_t netback = -1;
    uint32_t armin = 0;
    uint32_t auminsec = 0;
    uint32_t warntime = 5;
    uint32_t warnonce = 0;
    uint32_t keeplimit = 0;
    uint32_t showremain = 0;
    uint32_t hideremain = 0;
    uint32_t diskmon = 0;
    uint32_t netmon = 0;
    uint32_t appmon = 0;
    uint32_t disktime = 0;
    uint32_t usersize = 0;
    uint32_t tracksleep = 0;
    float timeout = 1.0f;
    int32_t starttime = 0;
    int32_t endtime = 0;

    // The remaining-time segment with its identifier and its semaphore (sharedMemID,
    // semaphoreID); null when either could not be created or attached, and then nothing is
    // published.
    std::unique_ptr<Channel> sharedMem;

    // Sleep and wake, recorded by sleepNotification and charged by the tick.
    std::optional<CalendarDate> sleepStart;
    std::optional<CalendarDate> sleepEnd;
    bool wasSleeping = false;
    // The user whose policy was loaded when the last sleep began: the sleep is charged to that
    // user only, never to whoever logs in after a sleep at the login screen or in another
    // account's session.
    std::optional<std::string> sleepUser;
    // Whether power events could be registered.
    bool powerRegistered = false;
    // Whether the loaded policy file was one only root could have written (owned by root, not
    // writable by group or others), judged on the descriptor the bytes were read from.
    bool policyTrusted = false;
    // Owner and mode of the loaded policy file. Saves give the new file the same owner and
    // permission bits, so a child's own file stays the child's and never turns into one that
    // root would act on, and the administrator's stays the administrator's.
    std::optional<FileInfo> policyFile;
    // Whether a save found the loaded policy file replaced by another (logged once per load).
    bool policyReplaced = false;
    // Whether the loaded policy is the account's store entry (saves go to the store, then to the
    // home copy), and whether it came from the entry's previous copy (the unusable entry is then
    // not kept as the previous copy by the next save).
    bool managed = false;
    bool storeFallback = false;
    // The store's directories were made (or found) by an earlier write that succeeded.
    bool storeDirectoriesMade = false;
    // Minutes counted since the last successful save; when the last save failed; whether the
    // home copy of a managed account could not be written (each said once in the log).
    bool unsavedMinutes = false;
    std::optional<double> saveFailedAt;
    bool mirrorFailing = false;

    // Where the history goes (runDaemon gives the journal beside the store's database); none: no history is kept.
    HistoryWriter* history = nullptr;
    // Minutes counted (or a policy loaded) since the loaded account's day was last put in
    // `historyDays`; the days and events not yet written (kept across a failed write, the days by
    // account and date); when the last write failed; the date whose pruning has been done.
    bool historyMinutes = false;
    std::map<std::pair<std::string, int>, DayUsage> historyDays;
    std::vector<HistoryEvent> historyEvents;
    std::optional<double> historyFailedAt;
    int historyPrunedDay = 0;

    // What the running tick has looked up, for the rest of that tick only: the console user
    // (looked up once per tick), the process table (scanned at most once, when a lookup needs
    // it) and an account's uid (each application's lookup needs the same one).
    bool inTick = false;
    std::optional<std::optional<std::string>> tickConsole;
    std::optional<ProcessTable> tickProcesses;
    std::optional<std::pair<std::string, int32_t>> tickAccount;

    // Application processes sent SIGTERM, each to get SIGKILL at `due` (monotonic seconds) if
    // the same process (pid, uid and start time) is still there.
    struct PendingKill {
        pid_t pid = 0;
        uid_t uid = 0;
        uint64_t startTime = 0;
        double due = 0;
    };
    std::vector<PendingKill> pendingKills;
    // Accounts logged out, each to have whatever it still runs killed at `due`.
    struct PendingLogout {
        std::string name;
        double due = 0;
    };
    std::map<uid_t, PendingLogout> logoutKills;

private:
    // The tick's work on each limit record of the list, at `now`.
    void countRecords(const CalendarDate& now);
    void loadHomePolicy();
    // userLogout for the named account.
    void endAccount(const std::optional<std::string>& name);
    // The store's grant for the loaded managed account -> `grant` (logged when unusable).
    void loadGrant();
    // Announces (log line and "grantmsg" caution notice) a grant for today that differs from the
    // one last announced to this account.
    void announceGrant(int32_t granted, int countingDay);
    bool writeStore(const std::string& bytes);
};

}  // namespace hv
