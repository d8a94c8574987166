# Reading and writing the program's settings file from the maintainer scripts: section [General], Windows-1252,
# CR LF, and a write changes only its own line, as the program does.

# ini_get FILE KEY: the value, in UTF-8 (empty when missing).
ini_get() {
	[ -f "$1" ] && [ ! -L "$1" ] || return 0
	KEY="$2" awk '
		{ line = $0; sub(/\r$/, "", line) }
		line ~ /^[ \t]*\[/ { insec = (tolower(line) ~ /^[ \t]*\[general\][ \t]*$/); next }
		insec {
			eq = index(line, "=")
			if (eq == 0) next
			k = substr(line, 1, eq - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
			if (tolower(k) == tolower(ENVIRON["KEY"])) { v = substr(line, eq + 1); gsub(/^[ \t]+|[ \t]+$/, "", v); print v; exit }
		}' "$1" | iconv -f WINDOWS-1252 -t UTF-8 2>/dev/null || true
}

# ini_set FILE KEY VALUE: VALUE given in UTF-8; the file keeps its owner and rights. FILE lies in a folder no
# user can replace it in.
ini_set() {
	value=$(printf '%s' "$3" | iconv -f UTF-8 -t WINDOWS-1252//TRANSLIT 2>/dev/null) || value=$3
	[ -f "$1" ] || : >"$1"
	KEY="$2" VALUE="$value" awk '
		BEGIN { key = ENVIRON["KEY"]; entry = key "=" ENVIRON["VALUE"] "\r" }
		{ line = $0; sub(/\r$/, "", line) }
		line ~ /^[ \t]*\[/ {
			if (insec && !done) { print entry; done = 1 }
			insec = (tolower(line) ~ /^[ \t]*\[general\][ \t]*$/); if (insec) seen = 1
		}
		insec && !done {
			eq = index(line, "=")
			if (eq > 0) {
				k = substr(line, 1, eq - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
				if (tolower(k) == tolower(key)) { print entry; done = 1; next }
			}
		}
		{ print line "\r" }
		END { if (!done) { if (!seen) print "[General]\r"; print entry } }' "$1" >"$1.dpkg-new"
	cat "$1.dpkg-new" >"$1"
	rm -f "$1.dpkg-new"
}
