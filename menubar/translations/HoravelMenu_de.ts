<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>hv::menu::Display</name>
    <message>
        <location filename="../display.cc" line="20"/>
        <source>U: no limit</source>
        <translation>Z: keine Grenze</translation>
    </message>
    <message>
        <location filename="../display.cc" line="22"/>
        <location filename="../display.cc" line="23"/>
        <source>U: %1</source>
        <translation>Z: %1</translation>
    </message>
    <message>
        <location filename="../display.cc" line="28"/>
        <source>N: no limit</source>
        <translation>N: keine Grenze</translation>
    </message>
    <message>
        <location filename="../display.cc" line="30"/>
        <source>N: off until %1</source>
        <translation>N: aus bis %1</translation>
    </message>
    <message>
        <location filename="../display.cc" line="32"/>
        <source>N: off</source>
        <translation>N: aus</translation>
    </message>
    <message>
        <location filename="../display.cc" line="34"/>
        <source>N: %1</source>
        <translation>N: %1</translation>
    </message>
    <message>
        <location filename="../display.cc" line="58"/>
        <location filename="../display.cc" line="116"/>
        <source>U: sync</source>
        <translation>Z: Abgleich</translation>
    </message>
    <message>
        <location filename="../display.cc" line="59"/>
        <location filename="../display.cc" line="117"/>
        <source>N: sync</source>
        <translation>N: Abgleich</translation>
    </message>
    <message>
        <location filename="../display.cc" line="153"/>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <location filename="../display.cc" line="154"/>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
</TS>
