"""The Windows executable, read back from the built file with python3-pefile.

    /usr/bin/python3 tests/pe_test.py EXE ICO

ICO is the icon file the executable was built with.

Exit status 77 (skipped) where there is no executable or no pefile.
"""

import sys
import unittest

try:
    import pefile
except ImportError:
    pefile = None

EXE = sys.argv[1] if len(sys.argv) > 1 else ""
ICO = sys.argv[2] if len(sys.argv) > 2 else ""

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
JAPANESE = 0x0411
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll"}


def resources(pe, kind):
    """(id, language, bytes) of each resource of `kind`."""
    found = []
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for named in entry.directory.entries:
            for language in named.directory.entries:
                data = language.data.struct
                found.append((named.id, language.id, pe.get_data(data.OffsetToData, data.Size)))
    return found


class PortableExecutable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def test_is_a_32_bit_gui_program_for_i386(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, 0x10B)  # PE32
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])

    def test_takes_address_randomisation_and_no_execute_data(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for name in ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"):
            self.assertTrue(flags & pefile.DLL_CHARACTERISTICS[name], name)

    def test_imports_system_dlls_only_and_their_wide_calls(self):
        imports = {entry.dll.decode().lower(): {i.name.decode() for i in entry.imports}
                   for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(set(imports), SYSTEM_DLLS)
        for call in ("GetCommandLineW", "CreateFileW", "ReadFile", "SetFilePointerEx", "WriteFile",
                     "CloseHandle", "GetModuleFileNameW"):
            self.assertIn(call, imports["kernel32.dll"])
        self.assertEqual(imports["user32.dll"], {"MessageBoxW"})
        for ansi in ("GetCommandLineA", "CreateFileA", "GetModuleFileNameA", "MessageBoxA"):
            self.assertNotIn(ansi, set().union(*imports.values()))

    def test_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0x00000001))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0x00000001))
        self.assertEqual(fixed.FileOS, 0x4)  # VOS__WINDOWS32
        self.assertEqual(fixed.FileType, 0x1)  # VFT_APP
        self.assertEqual(fixed.FileFlags, 0)
        tables, translations = [], []
        for info in self.pe.FileInfo[0]:
            tables += getattr(info, "StringTable", [])
            translations += [var.entry for var in getattr(info, "Var", [])]
        self.assertEqual([table.LangID for table in tables], [b"041103A4"])
        texts = {key.decode(): value.decode() for key, value in tables[0].entries.items()}
        self.assertEqual(texts, {
            "FileDescription": "ID3 v2.3のバージョン間違いの修正",
            "FileVersion": "1.0.0.1",
            "ProductVersion": "1.00",
        })
        self.assertEqual(translations, [{b"Translation": "0x0411 0x03a4"}])
        self.assertEqual([language for _, language, _ in resources(self.pe, RT_VERSION)], [JAPANESE])

    def test_one_icon_32_by_32_in_16_colours(self):
        groups = resources(self.pe, RT_GROUP_ICON)
        self.assertEqual(len(groups), 1)
        group = groups[0][2]
        count = int.from_bytes(group[4:6], "little")
        self.assertEqual(count, 1)
        width, height, colours, _, planes, bits = group[6], group[7], group[8], group[9], \
            int.from_bytes(group[10:12], "little"), int.from_bytes(group[12:14], "little")
        self.assertEqual((width, height, colours, planes, bits), (32, 32, 16, 1, 4))
        icons = resources(self.pe, RT_ICON)
        self.assertEqual(len(icons), 1)
        bitmap = icons[0][2]
        self.assertEqual(int.from_bytes(bitmap[4:8], "little"), 32)  # width
        self.assertEqual(int.from_bytes(bitmap[8:12], "little"), 64)  # colour rows and mask rows
        self.assertEqual(int.from_bytes(bitmap[14:16], "little"), 4)  # bits a pixel
        with open(ICO, "rb") as drawn:
            self.assertEqual(bitmap, drawn.read()[6 + 16:])  # past its header and one entry

    def test_manifest_asks_for_no_elevation(self):
        manifests = resources(self.pe, RT_MANIFEST)
        self.assertEqual([(name, language) for name, language, _ in manifests], [(1, JAPANESE)])
        self.assertIn(b'requestedExecutionLevel level="asInvoker"', manifests[0][2])


if __name__ == "__main__":
    if not EXE:
        print("no Windows build: mingw-w64 is not installed")
        sys.exit(77)
    if pefile is None:
        print("python3-pefile is not installed")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=2)
