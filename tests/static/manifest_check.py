#!/usr/bin/env python3
"""Reads the application manifest (resource type 24, id 1) out of a PE file
as data and checks what Windows decides by it: the execution level, the
supported systems, no UTF-8 code page and, where asked, the common-controls
6 dependency and per-monitor DPI awareness.

    manifest_check.py EXE [--gui]
"""
import struct
import sys
import xml.etree.ElementTree as ET

ASM1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
WS2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"
SYSTEMS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


def fail(text):
    sys.exit("manifest_check: %s: %s" % (sys.argv[1], text))


def manifest_bytes(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
    if not rsrc_rva:
        fail("no resources")
    table = optional + optional_size
    spans = []
    for i in range(sections):
        vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
        spans.append((rva, max(vsize, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        fail("address %#x lies in no section" % rva)

    base = offset(rsrc_rva)

    def entry(directory, wanted):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + i * 8)
            if wanted is None or (not name & 0x80000000 and name == wanted):
                return target
        return None

    types = entry(0, 24)
    if types is None or not types & 0x80000000:
        fail("no manifest resource")
    ids = entry(types & 0x7FFFFFFF, 1)
    if ids is None or not ids & 0x80000000:
        fail("no manifest with id 1")
    language = entry(ids & 0x7FFFFFFF, None)
    if language is None or language & 0x80000000:
        fail("manifest 1 has no data")
    rva, size = struct.unpack_from("<II", data, base + language)
    start = offset(rva)
    return data[start:start + size]


def main():
    gui = "--gui" in sys.argv[2:]
    with open(sys.argv[1], "rb") as f:
        text = manifest_bytes(f.read())
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        fail("manifest is not XML: %s" % e)
    if root.tag != ASM1 + "assembly":
        fail("root element is %s" % root.tag)

    levels = [e.attrib for e in root.iter(ASM3 + "requestedExecutionLevel")]
    if levels != [{"level": "asInvoker", "uiAccess": "false"}]:
        fail("execution level is %s, not asInvoker" % levels)
    systems = {e.get("Id") for e in root.iter(COMPAT + "supportedOS")}
    if systems != SYSTEMS:
        fail("supported systems are %s" % sorted(systems))
    if list(root.iter(WS2019 + "activeCodePage")):
        fail("sets the ANSI code page")

    controls = [e.attrib for e in root.iter(ASM1 + "assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    dpi_aware = [e.text for e in root.iter(WS2005 + "dpiAware")]
    dpi_awareness = [e.text for e in root.iter(WS2016 + "dpiAwareness")]
    if gui:
        want = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
                "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}
        if controls != [want]:
            fail("common controls dependency is %s" % controls)
        if dpi_aware != ["true/pm"] or dpi_awareness != ["PerMonitorV2,PerMonitor"]:
            fail("DPI awareness is %s %s" % (dpi_aware, dpi_awareness))
    elif controls or dpi_aware or dpi_awareness:
        fail("a console program with window settings")
    print("ok", sys.argv[1], "asInvoker", "gui" if gui else "console", flush=True)


main()
