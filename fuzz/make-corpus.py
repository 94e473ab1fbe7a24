#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_toolarchive: tiny archives shaped like the real tool releases, written by
Python's own zip, tar and gzip writers rather than by the test builders."""
import gzip
import io
import pathlib
import tarfile
import zipfile

OUT = pathlib.Path(__file__).resolve().parent / "corpus" / "toolarchive"
IOS = b"\xcf\xfa\xed\xfe ios " * 6
IPATOOL = b"\x7fELF ipatool " * 6
WHEN = (2024, 5, 1, 12, 0, 0)


def write_zip(name, entries, method=zipfile.ZIP_DEFLATED, comment=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.comment = comment
        for path, data in entries:
            info = zipfile.ZipInfo(path, WHEN)
            info.compress_type = method
            info.external_attr = 0o100755 << 16
            archive.writestr(info, data)
    (OUT / name).write_bytes(buffer.getvalue())


def write_tar_gz(name, entries, tar_format=tarfile.USTAR_FORMAT, also_plain=False):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tar_format) as archive:
        for path, kind, data in entries:
            info = tarfile.TarInfo(path)
            info.mtime = 1_700_000_000
            info.type = kind
            if kind == tarfile.SYMTYPE:
                info.linkname = "../ipatool"
            if kind == tarfile.REGTYPE:
                info.size = len(data)
                info.mode = 0o755
                archive.addfile(info, io.BytesIO(data))
            else:
                archive.addfile(info)
    (OUT / name).write_bytes(gzip.compress(buffer.getvalue(), mtime=0))
    if also_plain:
        # The fuzzer wraps its input in gzip too: a plain tar, cut after one end-of-archive block.
        tar = buffer.getvalue().rstrip(b"\0")
        tar += b"\0" * (-len(tar) % 512 + 512)
        (OUT / name.removesuffix(".gz")).write_bytes(tar)


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    write_zip("go-ios-mac.zip", [("ios", IOS)])
    write_zip("go-ios-linux.zip", [("ios-amd64", IOS), ("ios-arm64", IOS)])
    write_zip("stored.zip", [("LICENSE", b"MIT"), ("ios", IOS)], zipfile.ZIP_STORED, b"release")
    write_tar_gz("ipatool-macos-arm64.tar.gz",
                 [("bin", tarfile.DIRTYPE, b""), ("bin/ipatool-2.3.2-macos-arm64", tarfile.REGTYPE, IPATOOL)],
                 also_plain=True)
    write_tar_gz("ipatool-pax.tar.gz",
                 [("release/" + "d" * 100 + "/ipatool-2.3.2-linux-amd64", tarfile.REGTYPE, IPATOOL)],
                 tarfile.PAX_FORMAT)
    write_tar_gz("ipatool-link.tar.gz", [("README", tarfile.REGTYPE, b"read me"),
                                         ("bin/ipatool", tarfile.SYMTYPE, b"")], tarfile.GNU_FORMAT, True)


if __name__ == "__main__":
    main()
