#!/usr/bin/env bash
# Builds executables from text forms with independent tools: Free Pascal's Classes unit turns each
# FORMS_DIR/*.txt into a binary form stream, mingw's windres compiles FORMS_DIR/app.rc (which names
# the streams as NAME.bin) and ld links it with an empty entry point, once as a 32-bit and once as
# a 64-bit executable: app32.exe and app64.exe in the current folder.
#   build-exe.sh FORMS_DIR
set -eu
forms=$1
fpc -v0 -FU"$PWD" -o"$PWD/formconv" "$FIXTURES/../scan/fpc/formconv.pas" >formconv.log
for text in "$forms"/*.txt; do
    ./formconv txt2bin "$text" "$(basename "$text" .txt).bin"
done
cp "$forms"/*.dat . 2>/dev/null || true
cp "$forms/app.rc" app.rc
printf '.globl _start\n_start:\n    ret\n' >stub.s
for bits in 32 64; do
    case $bits in
    32) prefix=i686-w64-mingw32 ;;
    64) prefix=x86_64-w64-mingw32 ;;
    esac
    "$prefix-as" stub.s -o "stub$bits.o"
    "$prefix-windres" --preprocessor=cpp --preprocessor-arg=-E --preprocessor-arg=-xc \
        --preprocessor-arg=-DRC_INVOKED -O coff app.rc -o "res$bits.o"
    "$prefix-ld" --subsystem windows -e _start -o "app$bits.exe" "stub$bits.o" "res$bits.o"
done
