# The same conversion as code2option, in awk, for the benchmark's comparison.
# Holds for files whose fields are separated by spaces and tabs only.
{
    gsub(/\r/, "")
    if ($0 == "") next
    if (index($0, ",") > 0) {
        p = index($0, "\"(")
        if (p > 0) $0 = substr($0, 1, p) " " substr($0, p + 1)
    }
    printf "%s %s %s%s%s %s %s %s %s: %s x %s </option>\r\n", \
        $1, $2, $3, $4, $6, $7, $8, $5, $6, $7, $8
}
