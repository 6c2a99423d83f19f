#!/bin/sh
# The AVX2 pipeline's object must define no global or weak symbol but its two
# entry points: a shared inline helper compiled there could be the copy the
# linker keeps for callers on processors without AVX2.
# Usage: check_avx2_object.sh NM OBJECT...
set -eu
nm_tool=$1
shift
for object in "$@"; do
  case $object in *stereo_pipeline_avx2*) ;; *) continue ;; esac
  found=$("$nm_tool" -C --defined-only -g "$object" | awk '{ $1 = ""; $2 = ""; sub(/^ +/, ""); print }')
  unexpected=$(printf '%s\n' "$found" | grep -v '^varkel::processStereoPipelineAvx2(' || true)
  if [ -n "$unexpected" ]; then
    echo "shared symbols defined in $object:"
    printf '%s\n' "$unexpected"
    exit 1
  fi
  echo "$object defines only its entry points"
  exit 0
done
echo "no AVX2 pipeline object in this build"
