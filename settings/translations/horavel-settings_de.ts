<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>hv::settings::AccountView</name>
    <message>
        <location filename="../account_view.cc" line="23" />
        <source>Fetching the account's rules…</source>
        <translation>Die Regeln des Kontos werden abgerufen…</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="25" />
        <source>Limit this account</source>
        <translation>Dieses Konto begrenzen</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="34" />
        <source>Remove limits…</source>
        <translation>Grenzen aufheben…</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="35" />
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="36" />
        <source>Discard</source>
        <translation>Verwerfen</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="38" />
        <source>This account has no limits. Limiting it starts with one hour a day from Monday to Friday and two hours on Saturday and Sunday; change them on the pages that follow, then save.</source>
        <translation>Dieses Konto hat keine Grenzen. Eine Begrenzung beginnt mit einer Stunde am Tag von Montag bis Freitag und zwei Stunden am Samstag und Sonntag; ändern Sie sie auf den folgenden Seiten und speichern Sie dann.</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="50" />
        <source>Today</source>
        <translation>Heute</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="51" />
        <source>Allowance</source>
        <translation>Tageszeit</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="52" />
        <source>Hours</source>
        <translation>Uhrzeiten</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="53" />
        <source>Applications</source>
        <translation>Anwendungen</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="54" />
        <source>Disk</source>
        <translation>Speicher</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="55" />
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="120" />
        <source>The policy cannot be shown: %1</source>
        <translation>Die Regeln können nicht angezeigt werden: %1</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="146" />
        <source>Saving…</source>
        <translation>Wird gespeichert…</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="157" />
        <source>Saved.</source>
        <translation>Gespeichert.</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="160" />
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="174" />
        <source>Remove limits</source>
        <translation>Grenzen aufheben</translation>
    </message>
    <message>
        <location filename="../account_view.cc" line="174" />
        <source>Remove every limit of %1? Today's counts are dropped as well.</source>
        <translation>Alle Grenzen von %1 aufheben? Die heutige Zählung wird ebenfalls verworfen.</translation>
    </message>
</context>
<context>
    <name>hv::settings::AdminClient</name>
    <message>
        <location filename="../admin_client.cc" line="50" />
        <source>Not authorised: %1</source>
        <translation>Nicht berechtigt: %1</translation>
    </message>
    <message>
        <location filename="../admin_client.cc" line="53" />
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
    <message>
        <location filename="../admin_client.cc" line="55" />
        <source>The admin service did not answer: %1</source>
        <translation>Der Verwaltungsdienst hat nicht geantwortet: %1</translation>
    </message>
</context>
<context>
    <name>hv::settings::AllowancePage</name>
    <message>
        <location filename="../policy_pages.cc" line="37" />
        <source> min</source>
        <translation> Min.</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="38" />
        <source>no limit</source>
        <translation>keine Grenze</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="50" />
        <source>Same every day</source>
        <translation>Jeden Tag gleich</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="52" />
        <source>Minutes of computer use allowed per day. "no limit" leaves the day unlimited.</source>
        <translation>Erlaubte Minuten Computernutzung pro Tag. „keine Grenze“ lässt den Tag unbegrenzt.</translation>
    </message>
</context>
<context>
    <name>hv::settings::AppsPage</name>
    <message>
        <location filename="../policy_pages.cc" line="119" />
        <source>Minutes per day for single applications (0: not limited that day), enforced while application monitoring is on in Settings. The name is the program's name, as the process list shows it.</source>
        <translation>Minuten pro Tag für einzelne Anwendungen (0: an dem Tag nicht begrenzt), durchgesetzt, solange die Anwendungsüberwachung in den Einstellungen eingeschaltet ist. Der Name ist der Programmname, wie ihn die Prozessliste zeigt.</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="123" />
        <source>Application</source>
        <translation>Anwendung</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="130" />
        <source>Add installed application…</source>
        <translation>Installierte Anwendung hinzufügen…</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="131" />
        <location filename="../policy_pages.cc" line="140" />
        <source>Add by name</source>
        <translation>Nach Namen hinzufügen</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="132" />
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="140" />
        <source>Program name:</source>
        <translation>Programmname:</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="198" />
        <source>Installed applications</source>
        <translation>Installierte Anwendungen</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="201" />
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
</context>
<context>
    <name>hv::settings::DiskPage</name>
    <message>
        <location filename="../policy_pages.cc" line="226" />
        <source>Limit the size of the home folder</source>
        <translation>Größe des persönlichen Ordners begrenzen</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="230" />
        <source>Checked while disk monitoring is on in Settings.</source>
        <translation>Geprüft, solange die Speicherüberwachung in den Einstellungen eingeschaltet ist.</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="233" />
        <source> MB</source>
        <translation> MB</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="234" />
        <source>Quota</source>
        <translation>Kontingent</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="248" />
        <source>No command is run when the folder is over the quota.</source>
        <translation>Bei Überschreitung des Kontingents wird kein Befehl ausgeführt.</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="249" />
        <source>Run as root when the folder is over the quota: %1</source>
        <translation>Bei Überschreitung des Kontingents als root ausgeführt: %1</translation>
    </message>
</context>
<context>
    <name>hv::settings::HistoryPage</name>
    <message>
        <location filename="../history_page.cc" line="28" />
        <source>Last 14 days</source>
        <translation>Letzte 14 Tage</translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="29" />
        <source>Last 30 days</source>
        <translation>Letzte 30 Tage</translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="65" />
        <source>Allowance</source>
        <translation>Tageszeit</translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="94" />
        <source>Computer use</source>
        <translation>Computernutzung</translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="94" />
        <source>Other use</source>
        <translation>Übrige Nutzung</translation>
    </message>
    <message>
        <location filename="../history_page.cc" line="106" />
        <source>minutes</source>
        <translation>Minuten</translation>
    </message>
</context>
<context>
    <name>hv::settings::HoursPage</name>
    <message>
        <location filename="../policy_pages.cc" line="89" />
        <source>When the computer may be used. Drag across the half-hour cells to allow them; start on an allowed cell to take them away. A lighter cell is allowed for part of its half hour. While other days have times, a day without any is free, unless "The daily allowance applies also to accounts with time ranges" is on in Settings: then it allows no use at all.</source>
        <translation>Wann der Computer benutzt werden darf. Ziehen Sie über die Halbstunden-Felder, um sie zu erlauben; beginnen Sie auf einem erlaubten Feld, um sie wegzunehmen. Ein helleres Feld ist für einen Teil seiner halben Stunde erlaubt. Solange andere Tage Zeiten haben, ist ein Tag ohne Zeiten frei, außer wenn „Die tägliche Zeit gilt auch für Konten mit Uhrzeiten“ in den Einstellungen eingeschaltet ist: dann erlaubt er gar keine Nutzung.</translation>
    </message>
    <message>
        <location filename="../policy_pages.cc" line="96" />
        <source>When the network is on (enforced while network monitoring is on in Settings). A day without any time has the network all day.</source>
        <translation>Wann das Netzwerk an ist (durchgesetzt, solange die Netzwerküberwachung in den Einstellungen eingeschaltet ist). Ein Tag ohne Zeiten hat den ganzen Tag Netzwerk.</translation>
    </message>
</context>
<context>
    <name>hv::settings::MainWindow</name>
    <message>
        <location filename="../main_window.cc" line="24" />
        <source>Horavel parental controls[*]</source>
        <translation>Horavel Jugendschutz[*]</translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="51" />
        <source>%1 (no limits)</source>
        <translation>%1 (ohne Grenzen)</translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="56" />
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="93" />
        <source>Unsaved changes</source>
        <translation>Ungespeicherte Änderungen</translation>
    </message>
    <message>
        <location filename="../main_window.cc" line="93" />
        <source>Save the changes first?</source>
        <translation>Die Änderungen zuerst speichern?</translation>
    </message>
</context>
<context>
    <name>hv::settings::SettingsPage</name>
    <message>
        <location filename="../settings_page.cc" line="37" />
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="38" />
        <source>Discard</source>
        <translation>Verwerfen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="45" />
        <source>Monitoring</source>
        <translation>Überwachung</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="47" />
        <source>Count and limit computer time</source>
        <translation>Computerzeit zählen und begrenzen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="48" />
        <location filename="../settings_page.cc" line="58" />
        <source> min</source>
        <translation> Min.</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="48" />
        <source>Warn before the time runs out</source>
        <translation>Warnen, bevor die Zeit abläuft</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="49" />
        <source>The daily allowance applies also to accounts with time ranges</source>
        <translation>Die tägliche Zeit gilt auch für Konten mit Uhrzeiten</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="51" />
        <source>Enforce the network times</source>
        <translation>Netzwerkzeiten durchsetzen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="53" />
        <source>Block the account's own traffic (firewall)</source>
        <translation>Den Verkehr des Kontos sperren (Firewall)</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="54" />
        <source>Switch off every network interface of the machine</source>
        <translation>Alle Netzwerkschnittstellen des Rechners abschalten</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="55" />
        <source>Network off by</source>
        <translation>Netzwerk aus durch</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="56" />
        <source>Enforce the application minutes</source>
        <translation>Anwendungsminuten durchsetzen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="57" />
        <source>Enforce the disk quotas</source>
        <translation>Speicherkontingente durchsetzen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="58" />
        <source>Check the disks every</source>
        <translation>Speicher prüfen alle</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="59" />
        <source>Time the computer sleeps counts as use</source>
        <translation>Zeit im Ruhezustand zählt als Nutzung</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="62" />
        <source>Tray icon and notices</source>
        <translation>Symbol und Hinweise</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="64" />
        <source>Show the time left in the tray</source>
        <translation>Restzeit im Systembereich zeigen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="65" />
        <source>Hide the tray icon on days without a limit</source>
        <translation>Symbol an Tagen ohne Grenze ausblenden</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="66" />
        <source>Warn about an application only once</source>
        <translation>Nur einmal pro Anwendung warnen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="67" />
        <source>Warnings stay on screen until dismissed</source>
        <translation>Warnungen bleiben bis zum Schließen sichtbar</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="70" />
        <source>Notice texts</source>
        <translation>Hinweistexte</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="73" />
        <source>Placeholders: %u the account, %m minutes left, %w warning minutes, %a the application, %l the application's minutes left, %sr and %er start and end of the time range; %g the minutes given (only in the extra-time notice).</source>
        <translation>Platzhalter: %u das Konto, %m verbleibende Minuten, %w Warnminuten, %a die Anwendung, %l verbleibende Minuten der Anwendung, %sr und %er Beginn und Ende der Uhrzeit; %g die geschenkten Minuten (nur im Hinweis auf Extrazeit).</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="79" />
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="80" />
        <source>Time is up</source>
        <translation>Zeit abgelaufen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="81" />
        <source>Outside the time range</source>
        <translation>Außerhalb der Uhrzeiten</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="82" />
        <source>Application time is up</source>
        <translation>Anwendungszeit abgelaufen</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="83" />
        <source>Disk quota exceeded</source>
        <translation>Speicherkontingent überschritten</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="84" />
        <source>Extra time</source>
        <translation>Extrazeit</translation>
    </message>
    <message>
        <location filename="../settings_page.cc" line="206" />
        <source>Saving…</source>
        <translation>Wird gespeichert…</translation>
    </message>
</context>
<context>
    <name>hv::settings::TodayPage</name>
    <message numerus="yes">
        <location filename="../today_page.cc" line="16" />
        <source>%n min</source>
        <translation>
            <numerusform>%n Min.</numerusform><numerusform>%n Min.</numerusform></translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="31" />
        <source>Used today</source>
        <translation>Heute genutzt</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="32" />
        <source>Left today</source>
        <translation>Heute übrig</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="30" />
        <source>Given today</source>
        <translation>Heute geschenkt</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="29" />
        <source>Allowance today</source>
        <translation>Tageszeit heute</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="34" />
        <source>+15 minutes</source>
        <translation>+15 Minuten</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="34" />
        <source>+30 minutes</source>
        <translation>+30 Minuten</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="35" />
        <source>−15 minutes</source>
        <translation>−15 Minuten</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="43" />
        <source>Log out now</source>
        <translation>Jetzt abmelden</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="58" />
        <location filename="../today_page.cc" line="62" />
        <source>no limit today</source>
        <translation>heute keine Grenze</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="71" />
        <source>%1 more today; %2 given in all.</source>
        <translation>Heute %1 mehr; insgesamt %2 geschenkt.</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="72" />
        <source>%1 taken; %2 given in all.</source>
        <translation>%1 abgezogen; insgesamt %2 geschenkt.</translation>
    </message>
    <message>
        <location filename="../today_page.cc" line="80" />
        <source>%1 is being logged out.</source>
        <translation>%1 wird abgemeldet.</translation>
    </message>
</context>
<context>
    <name>hv::settings::WeekGrid</name>
    <message>
        <location filename="../week_grid.cc" line="135" />
        <source>none</source>
        <translation>keine</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <location filename="../main.cc" line="36" />
        <source>Sets the limits of the children's accounts.</source>
        <translation>Legt die Grenzen der Konten der Kinder fest.</translation>
    </message>
    <message>
        <location filename="../main.cc" line="39" />
        <source>Talk to the admin service on the bus at ADDRESS.</source>
        <translation>Mit dem Verwaltungsdienst auf dem Bus an ADRESSE sprechen.</translation>
    </message>
</context>
</TS>