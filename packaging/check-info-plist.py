#!/usr/bin/env python3
"""Fills the bundle's Info.plist template as CMake does for the macOS build and checks the result: it must be
a valid property list giving the version, the build and, when one is configured, the update-manifest address.

Usage: check-info-plist.py TEMPLATE VERSION BUILD [MANIFEST_URL]
"""
import plistlib
import re
import sys

template_path, version, build = sys.argv[1:4]
manifest_url = sys.argv[4] if len(sys.argv) > 4 else ""
values = {
    "MACOSX_BUNDLE_EXECUTABLE_NAME": "mirvo",
    "MACOSX_BUNDLE_GUI_IDENTIFIER": "app.mirvo.Mirvo",
    "MACOSX_BUNDLE_SHORT_VERSION_STRING": version,
    "MACOSX_BUNDLE_BUNDLE_VERSION": build,
    "MACOSX_BUNDLE_ICON_FILE": "mirvo.icns",
    "MIRVO_UPDATE_MANIFEST_URL": manifest_url,
}

with open(template_path, encoding="utf-8") as file:
    template = file.read()
unknown = sorted(set(re.findall(r"\$\{(\w+)\}", template)) - values.keys())
if unknown:
    sys.exit(f"the template uses variables the build does not set: {', '.join(unknown)}")
info = plistlib.loads(re.sub(r"\$\{(\w+)\}", lambda m: values[m.group(1)], template).encode("utf-8"))

expected = {
    "CFBundleExecutable": "mirvo",
    "CFBundleIdentifier": "app.mirvo.Mirvo",
    "CFBundleShortVersionString": version,
    "CFBundleVersion": build,
    "CFBundleIconFile": "mirvo.icns",
}
if manifest_url:
    expected["SolvenaUpdateManifestURL"] = manifest_url
wrong = [f"{key}: {info.get(key)!r} instead of {value!r}" for key, value in expected.items() if info.get(key) != value]
if wrong:
    sys.exit("Info.plist: " + "; ".join(wrong))
print(f"Info.plist: version {version}, build {build}, manifest {manifest_url or '(default)'}")
