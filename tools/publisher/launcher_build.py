"""The launcher's own build: its version, read from the exe."""


LAUNCHER_EXE_LIMIT = 64 * 1024 * 1024  # what players' launchers download at most
FIXED_FILE_INFO = b"\xbd\x04\xef\xfe"  # VS_FIXEDFILEINFO's signature


VERSION_INFO_KEY = "VS_VERSION_INFO\0".encode("utf-16-le")


def exe_version(exe):
    """The first part of the file version in the exe's VERSIONINFO, or None.
    The fixed part follows the resource's key, padded to 32 bits."""
    key = exe.find(VERSION_INFO_KEY)
    if key < 0:
        return None
    at = exe.find(FIXED_FILE_INFO, key + len(VERSION_INFO_KEY), key + len(VERSION_INFO_KEY) + 8)
    if at < 0 or len(exe) < at + 12:
        return None
    file_version_ms = int.from_bytes(exe[at + 8:at + 12], "little")
    return file_version_ms >> 16
