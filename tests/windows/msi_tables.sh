#!/usr/bin/env bash
# The installer's table check (scripts/windows-msi --check-tables) on the tables of a package
# as built (tests/windows/msi-tables, exported by msiinfo) and on copies doctored to break one
# rule each: the tables as built pass, and each copy is refused with the rule it breaks.
set -uo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
fixture="$source_dir/tests/windows/msi-tables"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# A case: its name, the text the refusal must hold ("" when the tables must pass), and the
# table to doctor with a sed script ("" for none).
case_of() {
    local name=$1 expected=$2 table=$3 edit=$4 output status=0
    rm -rf "$work/tables"
    cp -r "$fixture" "$work/tables"
    [[ -n "$table" ]] && sed -i -E "$edit" "$work/tables/$table.idt"
    output=$("$source_dir/scripts/windows-msi" --check-tables "$work/tables" 2>&1) || status=$?
    if [[ -z "$expected" && $status -eq 0 ]] ||
        [[ -n "$expected" && $status -ne 0 && "$output" == *"$expected"* ]]; then
        echo "ok   $name"
    else
        echo "FAIL $name (exit $status)"
        echo "$output"
        failed=1
    fi
}

tab=$'\t'
sequence() { echo "s/^($1$tab[^$tab]*$tab)[0-9]+/\\1$2/"; }
case_of "the tables as built pass" "" "" ""
case_of "UninstallService at 1, outside the install script" \
    "the deferred action UninstallService at 1 lies outside the install script" \
    InstallExecuteSequence "$(sequence UninstallService 1)"
case_of "UninstallService after RemoveFiles" "is not before RemoveFiles" \
    InstallExecuteSequence "$(sequence UninstallService 3501)"
case_of "InstallService before InstallFiles" "is not after InstallFiles" \
    InstallExecuteSequence "$(sequence InstallService 3999)"
case_of "InstallService after InstallFinalize" "InstallService at 6700 lies outside" \
    InstallExecuteSequence "$(sequence InstallService 6700)"
case_of "the rollback a plain deferred action" "no rollback action removes the service" \
    CustomAction "s/^(RollbackService$tab)[0-9]+/\\13090/"
case_of "the rollback after InstallService" "no rollback action removes the service" \
    InstallExecuteSequence "$(sequence RollbackService 4999)"
case_of "PORT not secure" "PORT is not among the SecureCustomProperties" \
    Property "s/;PORT//"
case_of "CONFIG not secure" "CONFIG is not among the SecureCustomProperties" \
    Property "s/;CONFIG//"
case_of "ALLOWED not secure" "ALLOWED is not among the SecureCustomProperties" \
    Property "s/;ALLOWED//"
exit $failed
