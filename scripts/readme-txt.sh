#!/usr/bin/env bash
# Writes README.txt, the users' page docs/using.md as plain text that reads
# well in Notepad, to standard output:
#
#   scripts/readme-txt.sh <docs/using.md> <version> <commit> <date> > README.txt
#
# The text starts with a head naming the version, the commit and its date,
# then the whole page converted from markdown:
# - headings underlined (= and -), paragraphs and list items wrapped at 76
#   columns (a Japanese character takes two), code blocks indented by four;
# - tables of two columns whose first is narrow as two aligned columns, other
#   tables as one entry a row, the first cell and below it the others;
# - images, HTML and comments dropped, link targets kept only when they are
#   addresses on the web, code spans, emphasis and escapes unwrapped.
# Output: UTF-8 with a byte-order mark, CRLF line ends. An empty page, or one
# whose code block is not closed, fails with one line on standard error and
# no output.
set -euo pipefail
say() { printf 'readme-txt.sh: %s\n' "$*" >&2; }

(($# == 4)) || { say "usage: readme-txt.sh <page.md> <version> <commit> <date>"; exit 2; }
page=$1 version=$2 commit=$3 date=$4
[[ -f $page ]] || { say "no file $page"; exit 2; }

# The same characters and widths whatever the caller's locale.
export LC_ALL=C.UTF-8
unset LANGUAGE

program=$(
    cat <<'AWK'
function die(message) {
    printf "readme-txt.sh: %s: %s\n", FILENAME, message > "/dev/stderr"
    failed = 1
    exit 1
}

# Columns a text takes in a fixed-width font: East Asian wide and full-width
# characters take two.
function width(s,    t) {
    t = s
    return length(s) + gsub(/[ᄀ-ᅟ⺀-〾ぁ-㏿㐀-䶿一-鿿ꀀ-꓏가-힣豈-﫿︰-﹏＀-｠￠-￦]/, "", t)
}
function repeat(c, n,    s) {
    s = ""
    while (n-- > 0) s = s c
    return s
}
function trim(s) {
    gsub(/^[ \t]+|[ \t]+$/, "", s)
    return s
}

# The output: out[1..nout]. A block asks for blank lines before the next one
# with gap(); they are written only between blocks, never at either end.
function gap(k) {
    if (k > pending) pending = k
}
function put(s) {
    sub(/[ \t]+$/, "", s)
    if (nout > 0)
        while (pending-- > 0) out[++nout] = ""
    pending = 0
    out[++nout] = s
}

# Wraps words at WIDTH columns; the first line starts with first, the others
# with rest. \003 is a space inside a code span, which never breaks; \006 a
# line break of the source's, which always does.
function wrap(text, first, rest,    words, n, i, line, prefix) {
    n = split(text, words, /[ \t]+/)
    line = ""
    prefix = first
    for (i = 1; i <= n; i++) {
        if (words[i] == "") continue
        if (words[i] == "\006") {
            if (line != "") put_wrapped(prefix line)
            prefix = rest
            line = ""
            continue
        }
        if (line != "" && width(prefix line " " words[i]) > WIDTH) {
            put_wrapped(prefix line)
            prefix = rest
            line = ""
        }
        line = line == "" ? words[i] : line " " words[i]
    }
    if (line != "" || first != rest) put_wrapped(prefix line)
}
function put_wrapped(s) {
    gsub(/\003/, " ", s)
    put(s)
}

# Keeps a literal text out of reach of the rules that follow; inline() puts
# it back at the end.
function keep(s) {
    literal[++nliteral] = s
    return "\001" nliteral "\002"
}

# Markdown's inline syntax to plain text.
function inline(s,    res, c, p, run, rest, stop, code, m, url) {
    # Left to right: backslash escapes and code spans.
    res = ""
    while (s != "") {
        c = substr(s, 1, 1)
        if (c == "\\" && substr(s, 2, 1) ~ /[][!"#$%&'()*+,./:;<=>?@\\^_`{|}~-]/) {
            res = res keep(substr(s, 2, 1))
            s = substr(s, 3)
        } else if (c == "`") {
            match(s, /^`+/)
            run = substr(s, 1, RLENGTH)
            rest = substr(s, RLENGTH + 1)
            stop = 0
            p = 0
            # The span ends at the next run of exactly as many backticks.
            while (match(substr(rest, p + 1), /`+/)) {
                if (RLENGTH == length(run)) {
                    stop = p + RSTART
                    break
                }
                p += RSTART + RLENGTH - 1
            }
            if (stop) {
                code = substr(rest, 1, stop - 1)
                if (code ~ /^ .*[^ ].* $/) code = substr(code, 2, length(code) - 2)
                gsub(/ /, "\003", code)
                res = res keep(code)
                s = substr(rest, stop + length(run))
            } else {
                res = res run
                s = rest
            }
        } else {
            match(s, /^[^\\`]+/)
            if (RLENGTH < 1) RLENGTH = 1
            res = res substr(s, 1, RLENGTH)
            s = substr(s, RLENGTH + 1)
        }
    }
    s = res

    # Images go; a link keeps its text, and its target when that is an address
    # on the web; autolinks lose their angle brackets.
    s = gensub(/!\[[^]]*\]\([^)]*\)/, "", "g", s)
    while (match(s, /\[([^]]*)\]\(([^) ]*)( +"[^"]*")?\)/, m)) {
        url = m[2]
        sub(/^</, "", url)
        sub(/>$/, "", url)
        s = substr(s, 1, RSTART - 1) m[1] (url ~ /^(https?|ftp|mailto):/ ? " (" url ")" : "") \
            substr(s, RSTART + RLENGTH)
    }
    s = gensub(/\[([^]]*)\]\[[^]]*\]/, "\\1", "g", s)
    s = gensub(/<((https?|ftp|mailto):[^ >]*)>/, "\\1", "g", s)
    # HTML tags go (a line break becomes a space), then character references.
    s = gensub(/<br *\/?>/, " ", "g", s)
    s = gensub(/<\/?[A-Za-z][A-Za-z0-9-]*([ \t][^<>]*)?\/?>/, "", "g", s)
    while (match(s, /&#([0-9]+|[xX][0-9a-fA-F]+);/, m))
        s = substr(s, 1, RSTART - 1) sprintf("%c", m[1] ~ /^[xX]/ ? strtonum("0" m[1]) : m[1] + 0) \
            substr(s, RSTART + RLENGTH)
    gsub(/&lt;/, "<", s)
    gsub(/&gt;/, ">", s)
    gsub(/&quot;/, "\"", s)
    gsub(/&nbsp;/, " ", s)
    gsub(/&amp;/, "\\&", s)
    # Emphasis: strong, then plain; underscores only at word edges.
    s = gensub(/\*\*([^*]+)\*\*/, "\\1", "g", s)
    s = gensub(/__([^_]+)__/, "\\1", "g", s)
    s = gensub(/~~([^~]+)~~/, "\\1", "g", s)
    s = gensub(/\*([^* ][^*]*)\*/, "\\1", "g", s)
    s = gensub(/(^|[^A-Za-z0-9_])_([^_ ][^_]*)_([^A-Za-z0-9_]|$)/, "\\1\\2\\3", "g", s)

    while (match(s, /\001[0-9]+\002/))
        s = substr(s, 1, RSTART - 1) literal[substr(s, RSTART + 1, RLENGTH - 2) + 0] substr(s, RSTART + RLENGTH)
    return s
}

# A line of a paragraph, to join to the ones before it: trimmed, and marked
# with \006 when it ends in a line break (two blanks or a backslash).
function joined(s) {
    if (s ~ /(  |\\)$/) {
        sub(/\\$/, "", s)
        return trim(s) " \006"
    }
    return trim(s)
}

function is_blank(s) { return s ~ /^[ \t]*$/ }
function is_fence(s) { return s ~ /^[ \t]*(```|~~~)/ }
function is_heading(s) { return s ~ /^ {0,3}#{1,6}([ \t]|$)/ }
function is_html(s) { return s ~ /^ {0,3}<(!--|\/?[A-Za-z])/ }
function is_item(s) { return s ~ /^ *([-*+]|[0-9]+[.)])[ \t]+[^ \t]/ }
function is_rule(s) { return s ~ /^ {0,3}((-[ \t]*){3,}|(\*[ \t]*){3,}|(_[ \t]*){3,})$/ }
function is_quote(s) { return s ~ /^ {0,3}>/ }
function is_delimiter_row(s) { return s ~ /^ {0,3}\|?[ \t]*:?-+:?[ \t]*(\|[ \t]*:?-+:?[ \t]*)*\|?[ \t]*$/ && s ~ /\|/ }
function is_table(i) { return src[i] ~ /^ {0,3}\|/ && i < nsrc && is_delimiter_row(src[i + 1]) }
# A line that starts a block of its own, and so ends a paragraph.
function starts_block(i) {
    return is_blank(src[i]) || is_fence(src[i]) || is_heading(src[i]) || is_html(src[i]) ||
           is_item(src[i]) || is_rule(src[i]) || is_quote(src[i]) || is_table(i)
}

# The cells of a table row; an escaped \| stays in its cell.
function cells(row, cell,    n, i) {
    row = trim(row)
    gsub(/\\\|/, "\005", row)
    sub(/^\|/, "", row)
    sub(/\|$/, "", row)
    n = split(row, cell, "|")
    for (i = 1; i <= n; i++) {
        gsub(/\005/, "\\|", cell[i])
        cell[i] = inline(trim(cell[i]))
    }
    return n
}

function table(i,    head, ncol, n, row, cell, r, c, w, w1, pad) {
    ncol = cells(src[i], head)
    i += 2
    n = 0
    while (i <= nsrc && src[i] ~ /^ {0,3}\|/) {
        cells(src[i], cell)
        n++
        for (c = 1; c <= ncol; c++) row[n, c] = cell[c]
        delete cell
        i++
    }
    gap(1)
    w1 = width(head[1])
    for (r = 1; r <= n; r++)
        if ((w = width(row[r, 1])) > w1) w1 = w
    if (ncol == 2 && w1 <= NARROW) {
        # Two aligned columns under their headings.
        put("  " head[1] repeat(" ", w1 - width(head[1])) "  " head[2])
        put("  " repeat("-", width(head[1])) repeat(" ", w1 - width(head[1])) "  " repeat("-", width(head[2])))
        for (r = 1; r <= n; r++) {
            pad = repeat(" ", w1 - width(row[r, 1]))
            wrap(row[r, 2], "  " row[r, 1] pad "  ", repeat(" ", w1 + 4))
        }
    } else {
        # One entry a row: the first cell, the others indented below it
        # (named by their column's heading when there are several).
        for (r = 1; r <= n; r++) {
            if (ncol > 2 && r > 1) put("")
            wrap(row[r, 1], "  ", "    ")
            for (c = 2; c <= ncol; c++) {
                if (row[r, c] == "") continue
                if (ncol == 2) wrap(row[r, c], "      ", "      ")
                else wrap(head[c] ": " row[r, c], "      ", "        ")
            }
        }
    }
    gap(1)
    return i
}

# A list: its items, their continuation lines and the paragraphs indented
# under them; a nested item is indented further.
function list(i,    m, lead, text, j, column, bullet) {
    gap(1)
    while (i <= nsrc) {
        match(src[i], /^( *)([-*+]|[0-9]+[.)])[ \t]+(.*)$/, m)
        lead = length(m[1])
        column = lead + length(m[2]) + 1
        bullet = m[2] ~ /^[-*+]$/ ? "-" : m[2]
        text = m[3]
        i++
        # Lines that continue the item's first paragraph.
        text = joined(text)
        while (i <= nsrc && !starts_block(i)) text = text " " joined(src[i++])
        wrap(inline(text), repeat(" ", 2 + lead) bullet " ", repeat(" ", 2 + lead + length(bullet) + 1))
        # After blank lines: the next item, a paragraph of this one, or the end.
        while (1) {
            for (j = i; j <= nsrc && is_blank(src[j]); j++);
            if (j > nsrc) return j
            if (is_item(src[j])) {
                i = j
                break
            }
            if (j > i && match(src[j], /^ */) && RLENGTH >= column && !is_fence(src[j])) {
                text = ""
                for (i = j; i <= nsrc && !is_blank(src[i]) && !is_item(src[i]); i++) text = text " " joined(src[i])
                put("")
                wrap(inline(text), repeat(" ", 2 + lead + length(bullet) + 1), repeat(" ", 2 + lead + length(bullet) + 1))
                continue
            }
            gap(1)
            return j
        }
    }
    return i
}

function convert(    i, m, level, text, fence, indent, line) {
    put("ovq " VERSION)
    put(repeat("=", width("ovq " VERSION)))
    put("")
    wrap("Version " VERSION ", built from commit " COMMIT " of " DATE ".", "", "")
    gap(2)
    i = 1
    while (i <= nsrc) {
        line = src[i]
        if (is_blank(line)) {
            i++
        } else if (match(line, /^([ \t]*)(```+|~~~+)/, m)) {
            # A fenced code block, as it is, indented by four.
            indent = length(m[1])
            fence = "^[ \t]*" (substr(m[2], 1, 1) == "`" ? "`" : "~") "{" length(m[2]) ",}[ \t]*$"
            gap(1)
            for (i++; i <= nsrc && src[i] !~ fence; i++) {
                line = src[i]
                sub("^ {0," indent "}", "", line)
                if (is_blank(line)) {
                    gap(1)
                } else {
                    put("    " line)
                }
            }
            if (i > nsrc) die("a code block is not closed")
            i++
            gap(1)
        } else if (match(line, /^ {0,3}(#{1,6})[ \t]*(.*)$/, m)) {
            level = length(m[1])
            text = m[2]
            sub(/[ \t]+#+[ \t]*$/, "", text)
            text = inline(trim(text))
            gap(level <= 2 ? 2 : 1)
            put(text)
            put(repeat(level <= 2 ? "=" : "-", width(text)))
            gap(1)
            i++
        } else if (line ~ /^ {0,3}<!--/) {
            # A comment, to its end.
            while (i <= nsrc && src[i] !~ /-->/) i++
            i++
        } else if (is_html(line)) {
            # An HTML block, to the next blank line.
            while (i <= nsrc && !is_blank(src[i])) i++
        } else if (is_table(i)) {
            i = table(i)
        } else if (is_item(line)) {
            i = list(i)
        } else if (is_rule(line)) {
            gap(2)
            i++
        } else if (is_quote(line)) {
            text = ""
            for (; i <= nsrc && is_quote(src[i]); i++) {
                line = src[i]
                sub(/^ {0,3}> ?/, "", line)
                text = text " " line
            }
            gap(1)
            wrap(inline(text), "  > ", "  > ")
            gap(1)
        } else if (line ~ /^(    |\t)/) {
            # An indented code block.
            gap(1)
            for (; i <= nsrc && (src[i] ~ /^(    |\t)/ || is_blank(src[i])); i++)
                if (is_blank(src[i])) gap(1)
                else put("    " substr(src[i], src[i] ~ /^\t/ ? 2 : 5))
            gap(1)
        } else {
            # A paragraph: its lines joined and wrapped anew.
            text = joined(line)
            for (i++; i <= nsrc && !starts_block(i); i++) text = text " " joined(src[i])
            gap(1)
            wrap(inline(text), "", "")
            gap(1)
        }
    }
}

BEGIN {
    WIDTH = 76
    NARROW = 16
}
{
    sub(/\r$/, "")
    src[++nsrc] = $0
}
END {
    if (failed) exit 1
    for (i = 1; i <= nsrc && is_blank(src[i]); i++);
    if (i > nsrc) die("the page is empty")
    convert()
    if (failed) exit 1
    printf "\357\273\277"
    for (i = 1; i <= nout; i++) printf "%s\r\n", out[i]
}
AWK
)

exec gawk -v VERSION="$version" -v COMMIT="$commit" -v DATE="$date" "$program" "$page"
