"""Every text the project writes for players, read as a French player would.

usage: french_texts_test.py TEXTS PATCH SAMPLE BUILD

TEXTS is the french_texts program (the explanations of every kind, the progress display's texts),
PATCH quillmoor-patch, SAMPLE the end-to-end sample (quillmoor.nds, quillmoor-fr.nds, patch.bin
and its card), BUILD the build folder (its CMakeCache.txt holds the translators' name and
addresses). The tests:

- typography: no plain space (nor the wrong no-break space) before : ; ! ? or inside « »; no
  "..." and no percentage glued to its number; digit groups with a narrow no-break space. In the
  explanations, quillmoor-patch's usage, help and own messages (and what it says about the sample's
  faults), the page (web/index.html, web/page.js) and the guide in its three forms. The texts that
  the project must keep as they are quoted (the progress display's, the path checks', the error
  heading) are taken out first.
- quoted texts: those texts, byte for byte, where the program and its resources hold them.
- the guide: its plain-text form holds no Markdown and no comment; its tables of errors name every
  message that quillmoor-patch prints for the faults provoked here, and the page's own.
- the check itself: it flags a text of each kind of fault, so that it cannot pass by seeing nothing.
"""

import html.parser
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

TEXTS, PATCH, SAMPLE, BUILD = (os.path.abspath(a) for a in sys.argv[1:5])
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NBSP, NNBSP = "\u00a0", "\u202f"

# The texts quoted for the Windows program, kept byte for byte wherever they are shown.
QUOTED = {
    "opening": "Ouverture de la ROM source... ",
    "initialising": "Initialisation... ",
    "cancelling": "Annulation...",
    "caption": "Application du patch en cours...",
    "caption 42": "Application du patch en cours... (42%)",
    "success": "L'application du patch s'est déroulée avec succès.",
    "success title": "Terminé!",
    "error title": "Erreur",
    "error": "Une erreur s'est produite:\n\nMESSAGE",
    "bad source": "Chemin du fichier source incorrect",
    "source is folder": "La source est un répertoire!",
    "destination is folder": "La destination est un répertoire!",
    "same file": "Les fichiers source et destination sont identiques!",
}
# The dialogs' texts in the resource script (a quote there is written twice, a line break \n), and
# the file dialogs' titles and filter in the main dialog's code.
RESOURCE_TEXTS = ['"Quillmoor - Patch de traduction française"', '"Source"', '"Parcourir"', '"Destination"',
                  '"Appliquer"', '"A propos"', '"Application du patch en cours..."', '"Annuler"', '"À propos"',
                  '"Patch de traduction pour\\nQuillmoor"', '"Version 1.0"', '"OK"']
DIALOG_TEXTS = ['"Veuillez sélectionner la ROM du jeu original"', '"Veuillez choisir un fichier de destination"',
                'L"ROM Nintendo DS (*.nds)\\0*.nds\\0Tous les fichiers (*.*)\\0*.*\\0"']

RULES = [
    ("plain space before : ; ! ?", re.compile(r" [:;!?](?=\s|$|[)»])")),
    ("no-break space before ; ! ? (a narrow one goes there)", re.compile(f"{NBSP}[;!?]")),
    ("narrow no-break space before : (a no-break space goes there)", re.compile(f"{NNBSP}:")),
    ("« without a no-break space after it", re.compile(f"«(?!{NBSP})")),
    ("» without a no-break space before it", re.compile(f"(?<!{NBSP})»")),
    ("three dots instead of …", re.compile(r"\.\.\.")),
    ("percentage glued to its number", re.compile(r"\d%")),
    ("digit groups without a narrow no-break space", re.compile(f"(?<![\\w-])\\d{{1,3}}[ {NBSP}]\\d{{3}}(?!\\w)")),
]
# Quoted texts inside our own, left as they are: the progress display's (and its caption's
# percentage), and technical words where a colon follows a letter on purpose.
KEPT = re.compile(r"Application du patch en cours\.\.\.(?: \(\d+%\))?|Ouverture de la ROM source\.\.\. ?|"
                  r"Initialisation\.\.\. ?|Annulation\.\.\.")


def faults(text):
    """The typography faults of a text: (rule, the text around the fault)."""
    text = KEPT.sub("", text)
    found = []
    for name, rule in RULES:
        for m in rule.finditer(text):
            found.append((name, text[max(0, m.start() - 30):m.end() + 30]))
    return found


def run(*args, **options):
    return subprocess.run(args, capture_output=True, text=True, timeout=300, **options)


def team():
    values = {}
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            values[name.split(":")[0]] = value
    return {n: values[n] for n in ("QM_TEAM_NAME", "QM_DOWNLOAD_URL", "QM_HELP_URL")}


class page_text(html.parser.HTMLParser):
    """The words of a page, without its style and scripts."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.words, self.skip = [], 0

    def handle_starttag(self, tag, attrs):
        self.skip += tag in ("style", "script")

    def handle_endtag(self, tag):
        self.skip -= tag in ("style", "script")

    def handle_data(self, data):
        if not self.skip:
            self.words.append(data)


def words_of(page):
    parser = page_text()
    parser.feed(page)
    return "".join(parser.words)


def js_strings(source):
    """The string literals of a script, escapes decoded (its comments left out first)."""
    source = re.sub(r"(^|\s)//\s.*$", "", source, flags=re.M)
    found = re.findall(r"'((?:[^'\\\n]|\\.)*)'|\"((?:[^\"\\\n]|\\.)*)\"", source)
    return [(a or b).encode("latin-1", "backslashreplace").decode("unicode_escape") for a, b in found]


class collected:
    """Every text, gathered once: (where, text)."""
    texts = []
    quoted = {}
    messages = []  # the engine's messages that quillmoor-patch printed for the faults below
    guide_md = guide_txt = guide_html = None


def provoke_faults(work):
    """quillmoor-patch on the faults a player can meet: its output, and the engine's messages."""
    original = os.path.join(SAMPLE, "quillmoor.nds")
    archive = os.path.join(SAMPLE, "patch.bin")
    with open(original, "rb") as f:
        rom = f.read()

    def variant(name, data):
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    wrong = bytearray(rom)
    wrong[0:5] = b"OTHER"
    cpk = bytearray(rom)
    # A byte deep inside the first script archive: its compressed entries no longer decode.
    fat = struct.unpack_from("<I", rom, 0x48)[0]
    start, end = struct.unpack_from("<II", rom, fat + 8 * 0x0C)
    cpk[start + (end - start) * 9 // 10] ^= 0xFF

    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (len(rom) // 4, len(rom) // 4))

    runs = [
        ([variant("wrong.nds", wrong), "out.nds"], {}),
        ([variant("short.nds", rom[:0x4000]), "out.nds"], {}),
        ([variant("noise.nds", b"x" * 250), "out.nds"], {}),
        ([os.path.join(SAMPLE, "quillmoor-fr.nds"), "out.nds"], {}),
        ([variant("cpk.nds", cpk), "out.nds"], {}),
        ([original, os.path.join(work, "missing", "out.nds")], {}),
        ([original, "full.nds"], {"preexec_fn": limited}),
    ]
    out = []
    for args, options in runs:
        r = run(PATCH, *args, "--archive", archive, "--quiet", cwd=work, **options)
        out.append((r.returncode, r.stderr))
    with open(archive, "rb") as f:
        packed = f.read()
    broken = variant("broken.bin", packed[:len(packed) // 2])
    for bad_archive in (broken, os.path.join(work, "missing.bin")):
        r = run(PATCH, original, "out.nds", "--archive", bad_archive, "--quiet", cwd=work)
        out.append((r.returncode, r.stderr))
    return out


def setUpModule():
    work = tempfile.mkdtemp(prefix="qm-french-")
    try:
        gather(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def gather(work):
    texts = collected.texts
    # The explanations and the progress display's texts.
    raw = subprocess.run([TEXTS], capture_output=True, check=True).stdout.decode("utf-8")
    for record in raw.split("\0")[:-1]:
        kind, _, text = record.partition("\t")
        if kind == "own":
            texts.append(("explanation", text))
        else:
            collected.quoted[kind.removeprefix("quoted ")] = text

    # quillmoor-patch: usage, help, its own messages, and what it says of each fault.
    texts.append(("usage", run(PATCH).stderr))
    texts.append(("usage after an unknown option", run(PATCH, "--bogus", "a", "b").stderr))
    texts.append(("--help", run(PATCH, "--help").stdout))
    os.makedirs(os.path.join(work, "folder"))
    rom = os.path.join(SAMPLE, "quillmoor.nds")
    for args in ([os.path.join(work, "none.nds"), "out.nds"], ["folder", "out.nds"], [rom, "folder"], [rom, rom],
                 ["--check", "folder"]):
        texts.append(("path check " + " ".join(args), run(PATCH, *args, cwd=work).stderr))
    for args in (["--check", rom], [rom, os.path.join(work, "ok.nds")]):
        r = run(PATCH, *args, "--archive", os.path.join(SAMPLE, "patch.bin"))
        texts.append(("run " + " ".join(args), r.stdout + r.stderr))
    for status, err in provoke_faults(work):
        texts.append(("a fault", err))
        m = re.match(r"Une erreur s'est produite:\n\n([^\n]+)", err)
        if m:
            collected.messages.append(m.group(1))

    # The page, with the options the build fills in.
    with open(os.path.join(ROOT, "web", "index.html"), encoding="utf-8") as f:
        page = f.read()
    for name, value in team().items():
        page = page.replace(f"@{name}@", value)
    texts.append(("web/index.html", words_of(page)))
    with open(os.path.join(ROOT, "web", "page.js"), encoding="utf-8") as f:
        collected.page_strings = js_strings(f.read())
    texts += [("web/page.js", s) for s in collected.page_strings]

    # The guide as committed (without its comments) and as the packages carry it.
    with open(os.path.join(ROOT, "LISEZMOI.md"), encoding="utf-8") as f:
        collected.guide_md = f.read()
    rendered = os.path.join(work, "guide")
    subprocess.run([os.path.join(ROOT, "scripts", "make-guide"), "--card", os.path.join(SAMPLE, "patch.bin.card"),
                    "--cache", os.path.join(BUILD, "CMakeCache.txt"), "--render", rendered], check=True)
    with open(os.path.join(rendered, "LISEZMOI.txt"), encoding="utf-8") as f:
        collected.guide_txt = f.read()
    with open(os.path.join(rendered, "LISEZMOI.html"), encoding="utf-8") as f:
        collected.guide_html = f.read()
    texts.append(("LISEZMOI.md", re.sub(r"<!--.*?-->", "", collected.guide_md, flags=re.S)))
    texts.append(("LISEZMOI.txt", collected.guide_txt))
    texts.append(("LISEZMOI.html", words_of(collected.guide_html)))


class typography(unittest.TestCase):
    def test_the_check_flags_each_fault(self):
        for bad in ["Erreur : x", "oui ; non", "quoi ?", "« x»", "«x »", "Patience...", "(29%)", "4 194 304 octets",
                    f"a{NBSP}; b", f"a{NNBSP}: b", f"Vraiment{NBSP}!"]:
            self.assertTrue(faults(bad), bad)
        self.assertEqual(faults(f"Erreur{NBSP}: «{NBSP}x{NBSP}», oui{NNBSP}; 4{NNBSP}194{NNBSP}304{NBSP}octets, 29{NBSP}%, "
                                "La source est un répertoire! Une erreur s'est produite: Annulation... "
                                "Application du patch en cours... (42%) https://x.invalid/a?b nds_rom::nds_rom"), [])

    def test_every_text_follows_french_typography(self):
        self.assertGreater(len(collected.texts), 100)
        found = [(where, f) for where, text in collected.texts for f in faults(text)]
        self.assertEqual(found, [], "\n".join(f"{where}: {name}: {context!r}" for where, (name, context) in found))

    def test_own_texts_are_french_and_name_the_translators(self):
        texts = dict(collected.texts)
        self.assertTrue(texts["usage"].startswith(f"utilisation{NBSP}: quillmoor-patch SOURCE DESTINATION"),
                        texts["usage"])
        for name, value in team().items():
            for where in ("--help", "web/index.html", "LISEZMOI.md", "LISEZMOI.txt", "LISEZMOI.html"):
                self.assertIn(value, texts[where], f"{name} in {where}")
        self.assertEqual(texts["path check folder out.nds"], f"Erreur{NBSP}: La source est un répertoire!\n")
        self.assertEqual(texts["path check --check folder"], f"Erreur{NBSP}: La source est un répertoire!\n")


class quoted_texts(unittest.TestCase):
    def test_the_progress_display_and_path_checks_keep_their_texts(self):
        self.assertEqual(collected.quoted, QUOTED)

    def test_the_dialogs_keep_their_texts(self):
        with open(os.path.join(ROOT, "resources", "quillmoor.rc"), encoding="utf-8") as f:
            script = f.read()
        with open(os.path.join(ROOT, "ui", "win32", "main_dialog.cpp"), encoding="utf-8") as f:
            code = f.read()
        self.assertEqual([t for t in RESOURCE_TEXTS if t not in script], [])
        self.assertEqual([t for t in DIALOG_TEXTS if t not in code], [])


class guide(unittest.TestCase):
    def test_the_plain_text_holds_no_markdown_nor_comment(self):
        for mark in ["**", "`", "](", "![", "<!--", "|---", "```", "\n#"]:
            self.assertNotIn(mark, collected.guide_txt)
        self.assertNotIn("<!--", collected.guide_html)
        self.assertEqual(re.findall(r'src="(?!data:)[^"]*"', collected.guide_html), [], "pictures outside the page")

    def test_the_tables_of_errors_name_every_message(self):
        named = []
        for line in collected.guide_md.splitlines():
            if line.startswith("| ") and not line.startswith("| Message"):
                named += [c.strip() for c in line.split("|")[1].split(", ")]

        def covered(message):
            return any(re.fullmatch(re.escape(n).replace(re.escape("…"), ".*"), message) for n in named)

        # The faults provoked above, the ones the fault tests provoke as another user (an unreadable
        # source, a destination that cannot be replaced), the page's own and the path checks.
        messages = collected.messages + [
            "nds_rom::nds_rom - can't open input file",
            "pending_output::commit failed - can't replace the destination (Permission denied)",
            next(s for s in collected.page_strings if s.startswith("Le moteur du patch")) + "x",
            *(QUOTED[k] for k in ("bad source", "source is folder", "destination is folder", "same file")),
        ]
        self.assertGreaterEqual(len(collected.messages), 8, collected.messages)
        self.assertEqual([m for m in messages if not covered(m)], [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
