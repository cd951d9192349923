#!/usr/bin/python3
"""Checks the window's translations against its sources.

    check_translations.py SOURCE_DIR WORK_DIR XGETTEXT_OPTION...

Extracts the marked texts again (xgettext, with the build's options) into WORK_DIR and
fails when po/zorflash.pot is not what they are, when a source file that marks texts is
missing from po/POTFILES.in, or when a language in po/LINGUAS leaves a text untranslated
or fuzzy, breaks a format string or plural form, or names a button in an explanation by
anything but that button's translated label. Prints one line per check.
"""
import gettext
import os
import re
import subprocess
import sys

# Explanations that tell which button to tap: the button's label must be what the translation
# names, or the reader looks for a button that is not there.
BUTTON_NAMED = re.compile(r"\bTap (Finish Update|Retry)\b")
MARK = re.compile(r"\b(N_|_|d?n?gettext)\(")


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def marked_sources(source):
    """The files that mark a text for the window: its sources and builder file, and the app's
    words for it."""
    found = set()
    for top in ("src/front/gtk", "src/app"):
        for folder, _, files in os.walk(os.path.join(source, top)):
            for name in files:
                path = os.path.join(folder, name)
                if name.endswith(".cpp"):
                    marks = MARK.search(open(path, encoding="utf-8").read())
                else:
                    marks = name.endswith(".ui") and 'translatable="yes"' in open(path, encoding="utf-8").read()
                if marks:
                    found.add(os.path.relpath(path, source))
    return found


def main():
    source, work, options = sys.argv[1], sys.argv[2], sys.argv[3:]
    po = os.path.join(source, "po")
    os.makedirs(work, exist_ok=True)
    failures = []

    def check(what, ok, detail=""):
        print(f"{'ok' if ok else 'FAILED'}: {what}")
        if not ok:
            print("    " + detail.strip().replace("\n", "\n    "))
            failures.append(what)

    listed = {line.strip() for line in open(os.path.join(po, "POTFILES.in"), encoding="utf-8")
              if line.strip() and not line.startswith("#")}
    unlisted = marked_sources(source) - listed
    check("po/POTFILES.in lists every window source that marks a text", not unlisted,
          "not listed: " + " ".join(sorted(unlisted)))

    fresh = os.path.join(work, "zorflash.pot")
    status, said = run("xgettext", *options, "-D", source, "-f", os.path.join(po, "POTFILES.in"),
                       "-o", fresh)
    check("xgettext extracts the marked texts", status == 0, said)
    if status != 0:
        return 1
    pot = os.path.join(po, "zorflash.pot")
    status, said = run("msgcmp", "--use-untranslated", pot, fresh)
    check("po/zorflash.pot holds every marked text", status == 0, said)
    status, said = run("msgcmp", "--use-untranslated", fresh, pot)
    check("po/zorflash.pot holds no text the sources no longer mark", status == 0, said)

    languages = [line.strip() for line in open(os.path.join(po, "LINGUAS"), encoding="utf-8")
                 if line.strip() and not line.startswith("#")]
    check("po/LINGUAS names a language", bool(languages))
    for language in languages:
        path = os.path.join(po, language + ".po")
        mo = os.path.join(work, language + ".mo")
        status, said = run("msgfmt", "--check", "--statistics", "-o", mo, path)
        check(f"{language}.po compiles: format strings, plural forms and header",
              status == 0 and "untranslated" not in said and "fuzzy" not in said, said)
        status, said = run("msgcmp", path, fresh)
        check(f"{language}.po translates every marked text, none fuzzy", status == 0, said)
        if not os.path.exists(mo):
            continue
        catalogue = gettext.GNUTranslations(open(mo, "rb"))
        wrong = []
        for english in catalogue._catalog:
            if not isinstance(english, str):
                continue
            for label in BUTTON_NAMED.findall(english):
                if catalogue.gettext(label) not in catalogue.gettext(english):
                    wrong.append(f"{english!r} does not name {catalogue.gettext(label)!r}")
        check(f"{language}.po names each button by its translated label", not wrong,
              "\n".join(wrong))
    print(f"{len(failures)} of the checks failed" if failures else "all checks passed")
    return 1 if failures else 0




if __name__ == "__main__":
    sys.exit(main())
