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

#include "foundation/calendar_date.h"
#include "foundation/value.h"
#include "platform/config.h"
#include "platform/system.h"

namespace hv {

// The header of every notice the daemon shows.
inline constexpr const char* kNoticeHeader = "Wardelin Session Information";
// Seconds between ticks, and the wait between a logout notice and the logout itself.
inline constexpr double kTickInterval = 5.0;
inline constexpr double kLogoutDelay = 15.0;
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

// The user id of the first user-database entry with exactly this name, or -1.
int32_t uidByName(System& system, const std::string& name);

class Monitor {
public:
    // Schedules the 5-second tick, registers for power events and opens the remaining-time
    // channel; loads neither settings nor policy (main does, in that order).
    Monitor(System& system, const Config& config);
    // Releases the channel (the platform detaches the segment, removes it when nobody else is
    // attached, and closes the semaphore without unlinking its name).
    ~Monitor();

    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Settings file -> the settings variables; creates the disk timer once; logs
    // "preferences loaded".
    void loadUserStatus();
    // The console user's policy file -> `user`, `userlist`; sets `switched`.
    void loadUserData();
    // The console user's name; nullopt when nobody (or only a greeter) is at the console.
    std::optional<std::string> userCurrent();
    // Adds one minute to the record at index, stamps it with now and writes the whole list to
    // the policy file of `name`. Nothing is written when `name` is absent or the index is out of
    // range.
    void updateUser(const std::optional<std::string>& name, int32_t index);
    // The two halves of updateUser: countMinute adds the minute and the stamp in memory (false
    // when the index is out of range); saveUserList writes the whole list to the policy file of
    // `name` (nothing when `name` is absent or not a plain account name, nor over a root-owned
    // file that has replaced the one loaded, which the pending reload is to read).
    bool countMinute(int32_t index);
    void saveUserList(const std::optional<std::string>& name);

    // The 5-second tick.
    void userMonitor();
    // Midnight: every record's stored usage starts afresh (reset, then counted as one minute
    // stamped now), and the list is saved once.
    void clearToday();

    // Expands a template into `message`: "%u" "%a" "%w" "%m" "%l" "%sr" "%er", first occurrence
    // of each, in that order. An absent template gives an empty message.
    void makeMessage(const std::optional<std::string>& templ);
    // Shows `message` as a caution notice (timeout `timeout`) or a stop notice (timeout 1.0).
    void showCautionNotice();
    void showStopNotice();

    // The pid of `user`'s first process whose command name is exactly `name`; 0 when none or
    // when the process table cannot be read.
    int32_t findProcess(const std::string& name, const std::optional<std::string>& user);
    // Ends `user`'s console session (logs "terminate loginwindow pid %d").
    void userLogout();

    // The monitors: time ranges, network ranges, applications, disk quota. `index` is the limit
    // record's index in `userlist`.
    void checkTimeRange(int32_t index);
    void checkNetRange(int32_t index);
    void getInterface();
    void interfaceUp();
    void interfaceDown();
    void checkApps();
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
    // The text last expanded by makeMessage.
    std::optional<std::string> message;
    std::optional<std::string> interface;

    // The seconds towards the next minute that each user had counted when their policy was
    // last replaced, and when. The first tick of a user who is back the same day (with today's
    // stored usage) starts from them rather than from 0.
    struct CarriedSeconds {
        uint32_t seconds = 0;
        double at = 0;
    };
    std::map<std::string, CarriedSeconds> carriedSeconds;
    // When the last tick with monitoring on ran; a tick on a later local day resets the counts
    // even when no tick fell in the first minute of that day.
    std::optional<double> lastTickTime;

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
};

}  // namespace hv
