# Sourced by scripts/test.sh once the Release build's tests have run: runs
# the Ansible collection's playbooks (run.py) against that build and adds
# their counts and a line to the summary; skipped, with the reason, where
# ansible-core is missing.
if ! command -v ansible-playbook >/dev/null 2>&1; then
  summary+=("ansible: skipped, ansible-core is not installed (as root: apt-get install ansible-core)")
else
  echo "== ansible: the kiv.storage collection against four simulated systems; log build/test-werror/ansible.log"
  ansible_start=$SECONDS
  ansible_log="$top/build/test-werror/ansible.log"
  KIV_STEP_PATTERN='^(ok|FAIL) +[^ ]+( [^ ]+)?' KIV_TAIL_LINES=0 kiv_logged "$ansible_log" \
    python3 "$top/tests/ansible/run.py" "$top/build/test-werror" || true
  grep -A1 '^FAIL' "$ansible_log" | kiv_cut 96 | sed 's/^/   /' || true
  ansible_line=$(tail -n 1 "$ansible_log")
  if [[ $ansible_line =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  else
    failed=$((failed + 1))
    ansible_line="tests/ansible/run.py did not finish"
  fi
  echo "   $ansible_line, in $((SECONDS - ansible_start)) s"
  summary+=("ansible: the kiv.storage collection's playbooks, $ansible_line (log: build/test-werror/ansible.log)")
fi
