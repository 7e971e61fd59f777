#!/usr/bin/env bash
# The user manual beside the programs: tsr_e.html, tsr_e.pdf, tsr_f.html, tsr_f.pdf.
#   manual_test.sh BUILD_DIR
# Checks that the four files exist, that both PDFs have several pages and the expected words in
# their text (English and French), and that the HTML files load nothing from outside (stylesheets,
# scripts and images are all embedded). Exits 77 (skipped) when the PDF tools are missing, or when
# the PDFs are missing because no Chromium was found to print them.
set -euo pipefail

BUILD=${1:?usage: manual_test.sh BUILD_DIR}
MIN_PAGES=10
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

skip() {
  echo "SKIP: $*" >&2
  exit 77
}

for tool in pdfinfo pdftotext; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (poppler-utils)"
done

for lang in e f; do
  [ -s "$BUILD/tsr_$lang.html" ] || fail "$BUILD/tsr_$lang.html is missing or empty"
done
for lang in e f; do
  if [ ! -s "$BUILD/tsr_$lang.pdf" ]; then
    command -v chromium >/dev/null 2>&1 || skip "no chromium to print $BUILD/tsr_$lang.pdf"
    fail "$BUILD/tsr_$lang.pdf is missing or empty"
  fi
done
[ "$failures" -eq 0 ] || exit 1

# Both PDFs: several pages and a text layer.
for lang in e f; do
  pdf="$BUILD/tsr_$lang.pdf"
  pages=$(pdfinfo "$pdf" | sed -n 's/^Pages:[[:space:]]*//p')
  if [ -z "$pages" ] || [ "$pages" -lt "$MIN_PAGES" ]; then
    fail "$pdf has ${pages:-no} pages (expected at least $MIN_PAGES)"
  fi
done

text_e=$(pdftotext -enc UTF-8 "$BUILD/tsr_e.pdf" -)
text_f=$(pdftotext -enc UTF-8 "$BUILD/tsr_f.pdf" -)

# English: object names of the catalogue, the command-line tool, menu texts.
english_words=("Knob" "tessora-cli" "Build files to a directory"
               "Cannot create web server, please check the port number")
for word in "${english_words[@]}"; do
  grep -qF -- "$word" <<<"$text_e" || fail "tsr_e.pdf does not contain \"$word\""
done

# French: French words (with their accents, so that no glyph is missing) and French menu texts.
french_words=("Bouton" "Passerelles" "Générer les fichiers vers un répertoire"
              "Impossible de créer le serveur Web" "tessora-cli")
for word in "${french_words[@]}"; do
  grep -qF -- "$word" <<<"$text_f" || fail "tsr_f.pdf does not contain \"$word\""
done

# Each language in its own document.
if grep -qF "Table des matières" <<<"$text_e"; then
  fail "tsr_e.pdf contains the French table of contents"
fi
grep -qF "Table des matières" <<<"$text_f" || fail "tsr_f.pdf lacks its table of contents"

# The HTML files are self-contained: every resource they load is embedded (data: URLs), nothing
# comes from a web server or from a file beside them.
for lang in e f; do
  html="$BUILD/tsr_$lang.html"
  grep -q "<html[^>]*lang=\"$( [ $lang = e ] && echo en || echo fr )\"" "$html" ||
    fail "$html does not declare its language"
  grep -q "<title>[^<]\+</title>" "$html" || fail "$html has no title"
  grep -q "<style" "$html" || fail "$html has no embedded stylesheet"
  tags='<(link|script|img|iframe|source|audio|video|embed|object)\b[^>]*\b(src|href|data)="[^"]*"'
  external=$(grep -oiE "$tags" "$html" | grep -oiE '\b(src|href|data)="[^"]*"' |
    grep -viE '="(data:|#)' || true)
  if [ -n "$external" ]; then
    fail "$html loads external resources: $(head -5 <<<"$external" | tr '\n' ' ')"
  fi
  if grep -qiE '@import|url\((["'"'"']?)(https?:|//)' "$html"; then
    fail "$html imports external stylesheets or fonts"
  fi
  if grep -qiE '(src|href)="(https?:)?//' "$html"; then
    fail "$html references a web address in src or href"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
pages() { pdfinfo "$1" | sed -n 's/^Pages:[[:space:]]*//p'; }
echo "manual OK: tsr_e.pdf $(pages "$BUILD/tsr_e.pdf") pages," \
     "tsr_f.pdf $(pages "$BUILD/tsr_f.pdf") pages"
