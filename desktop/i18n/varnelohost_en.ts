<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>HostStrings</name>
    <message>
        <source>版本升级</source>
        <translation>Version upgrade</translation>
    </message>
    <message>
        <source>发现Varnelo新版本%s,请点击确认升级</source>
        <translation>A new version of Varnelo (%s) was found. Press OK to upgrade.</translation>
    </message>
</context>
</TS>
