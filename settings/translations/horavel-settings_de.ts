<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AccountView</name>
    <message>
        <location filename="../account_view.cc" line="23"/>
        <source>Limit this account</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="32"/>
        <source>Remove limits…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="33"/>
        <source>Save</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="34"/>
        <source>Discard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="36"/>
        <source>This account has no limits. Limiting it starts with one hour a day from Monday to Friday and two hours on Saturday and Sunday; change them on the pages that follow, then save.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="46"/>
        <source>Today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="47"/>
        <source>Allowance</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="48"/>
        <source>Hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="49"/>
        <source>Applications</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="50"/>
        <source>Disk</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="51"/>
        <source>History</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="110"/>
        <source>The policy cannot be shown: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="136"/>
        <source>Saving…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="147"/>
        <source>Saved.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="150"/>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="164"/>
        <source>Remove limits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="164"/>
        <source>Remove every limit of %1? Today&apos;s counts are dropped as well.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AdminClient</name>
    <message>
        <location filename="../admin_client.cc" line="45"/>
        <source>Not authorised: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../admin_client.cc" line="48"/>
        <source>Failed: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../admin_client.cc" line="50"/>
        <source>The admin service did not answer: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AllowancePage</name>
    <message>
        <location filename="../policy_pages.cc" line="46"/>
        <source>Same every day</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="48"/>
        <source>Minutes of computer use allowed per day. &quot;no limit&quot; leaves the day unlimited.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AppsPage</name>
    <message>
        <location filename="../policy_pages.cc" line="113"/>
        <source>Minutes per day for single applications (0: not limited that day), enforced while application monitoring is on in Settings. The name is the program&apos;s name, as the process list shows it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="117"/>
        <source>Application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="124"/>
        <source>Add installed application…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="125"/>
        <source>Add by name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="126"/>
        <source>Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="134"/>
        <source>program</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="192"/>
        <source>Installed applications</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="195"/>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DiskPage</name>
    <message>
        <location filename="../policy_pages.cc" line="220"/>
        <source>Limit the size of the home folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="224"/>
        <source>Checked while disk monitoring is on in Settings.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="227"/>
        <source> MB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="228"/>
        <source>Quota</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="242"/>
        <source>No command is run when the folder is over the quota.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="243"/>
        <source>Run as root when the folder is over the quota: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HistoryPage</name>
    <message>
        <location filename="../history_page.cc" line="28"/>
        <source>Last 14 days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="29"/>
        <source>Last 30 days</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="65"/>
        <source>Allowance</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="94"/>
        <source>Computer use</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="94"/>
        <source>Other use</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="105"/>
        <source>minutes</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HoursPage</name>
    <message>
        <location filename="../policy_pages.cc" line="85"/>
        <source>When the computer may be used. Drag across the half-hour cells to allow them; start on an allowed cell to take them away. A lighter cell is allowed for part of its half hour. A day without any time is not limited by time of day.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="90"/>
        <source>When the network is on (enforced while network monitoring is on in Settings). A day without any time has the network all day.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <location filename="../main_window.cc" line="24"/>
        <source>Horavel parental controls[*]</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="51"/>
        <source>%1 (no limits)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="56"/>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="90"/>
        <source>Unsaved changes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="90"/>
        <source>Save the changes first?</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SettingsPage</name>
    <message>
        <location filename="../settings_page.cc" line="37"/>
        <source>Save</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="38"/>
        <source>Discard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="45"/>
        <source>Monitoring</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="47"/>
        <source>Count and limit computer time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="48"/>
        <location filename="../settings_page.cc" line="58"/>
        <source> min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="48"/>
        <source>Warn before the time runs out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="49"/>
        <source>The daily allowance applies also to accounts with time ranges</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="51"/>
        <source>Enforce the network times</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="53"/>
        <source>Block the account&apos;s own traffic (firewall)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="54"/>
        <source>Switch off every network interface of the machine</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="55"/>
        <source>Network off by</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="56"/>
        <source>Enforce the application minutes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="57"/>
        <source>Enforce the disk quotas</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="58"/>
        <source>Check the disks every</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="59"/>
        <source>Time the computer sleeps counts as use</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="62"/>
        <source>Tray icon and notices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="64"/>
        <source>Show the time left in the tray</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="65"/>
        <source>Hide the tray icon on days without a limit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="66"/>
        <source>Warn about an application only once</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="67"/>
        <source>Warnings stay on screen until dismissed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="70"/>
        <source>Notice texts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="73"/>
        <source>Placeholders: %u the account, %m minutes left, %w warning minutes, %a the application, %l the application&apos;s minutes left, %sr and %er start and end of the time range; %g the minutes given (only in the extra-time notice).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="79"/>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="80"/>
        <source>Time is up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="81"/>
        <source>Outside the time range</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="82"/>
        <source>Application time is up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="83"/>
        <source>Disk quota exceeded</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="84"/>
        <source>Extra time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="206"/>
        <source>Saving…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TodayPage</name>
    <message>
        <location filename="../today_page.cc" line="23"/>
        <source>Used today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="24"/>
        <source>Left today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="25"/>
        <source>Given today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="27"/>
        <source>+15 minutes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="27"/>
        <source>+30 minutes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="28"/>
        <source>−15 minutes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="36"/>
        <source>Log out now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="52"/>
        <source>no limit today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="57"/>
        <source>%1 (allowance %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="65"/>
        <source>%1 more today; %2 given in all.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="66"/>
        <source>%1 taken; %2 given in all.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="74"/>
        <source>%1 is being logged out.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>hv::settings::AllowancePage</name>
    <message>
        <location filename="../policy_pages.cc" line="33"/>
        <source> min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="34"/>
        <source>no limit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>hv::settings::TodayPage</name>
    <message numerus="yes">
        <location filename="../today_page.cc" line="15"/>
        <source>%n min</source>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <location filename="../main.cc" line="57"/>
        <source>Sets the limits of the children&apos;s accounts.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../main.cc" line="60"/>
        <source>Talk to the admin service on the bus at ADDRESS.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
