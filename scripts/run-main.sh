#!/bin/sh
# Builds the library and the jar, then runs the command-line tool in the jar
# on a sample message: digest it, MAC it, derive keys from the digest, seal and open
# it, show that a tampered envelope is rejected, and draw random bytes when the
# processor offers RDRAND. The jar alone is used: the native library is inside.
set -eu
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target zenthal_jar
jar="$(pwd)/build/release/zenthal.jar"

[ $# -gt 0 ] || set -- "The quick brown fox jumps over the lazy dog"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '%s\n' "$*" > message.txt

# Shows each command as a user would type it, then runs it.
zenthal() {
  echo "\$ zenthal $*" >&2
  java -jar "$jar" "$@"
}
hexdump() {
  od -An -v -tx1 "$1" | tr -d ' \n'
}

echo
zenthal info
echo
digest=$(zenthal sm3 message.txt)
echo "$digest"
echo
zenthal hmac --key 000102030405060708090a0b0c0d0e0f message.txt
echo
keys=$(zenthal kdf --z "${digest%% *}" --length 48)
echo "$keys"
key=$(echo "$keys" | cut -c1-32)
mac_key=$(echo "$keys" | cut -c33-64)
iv=$(echo "$keys" | cut -c65-96)
echo "  key $key, MAC key $mac_key, IV $iv"
echo
zenthal seal --key "$key" --mac-key "$mac_key" --iv "$iv" --in message.txt --out message.env
echo "  $(($(wc -c < message.txt))) bytes sealed into $(($(wc -c < message.env))): $(hexdump message.env)"
echo
zenthal open --key "$key" --mac-key "$mac_key" --iv "$iv" --in message.env
echo

# Change the first byte of the envelope: opening must refuse it.
cp message.env tampered.env
first=$(od -An -tx1 -N1 tampered.env | tr -d ' ')
{ if [ "$first" = 00 ]; then printf '\377'; else printf '\000'; fi; } |
  dd of=tampered.env bs=1 count=1 conv=notrunc 2>/dev/null
if zenthal open --key "$key" --mac-key "$mac_key" --iv "$iv" --in tampered.env; then
  echo "a tampered envelope was accepted" >&2
  exit 1
fi
echo "  (rejected as expected, exit status 1)"
echo

if java -jar "$jar" info | grep -q '^RDRAND offered: *yes'; then
  zenthal random 32
else
  echo "RDRAND is not offered by this processor (only GenuineIntel processors that report"
  echo "RDRAND are used), so no random bytes are drawn here: 'zenthal random' would exit 1."
fi
