# Sourced by the scripts that redact with a rules file of every action.
# rules_yaml FILE 'ACTION XPATH;ACTION XPATH;...' writes a rules file giving
# each expression its action, with attributes on and the parameters each
# action takes.
rules_yaml() {
  local file=$1 rule action
  local -a rule_list
  echo "rules:" >"$file"
  IFS=';' read -r -a rule_list <<<"$2"
  for rule in "${rule_list[@]}"; do
    action=${rule%% *}
    {
      echo "  - select: \"${rule#* }\""
      echo "    action: $action"
      echo "    attributes: true"
      case $action in
        mask) printf '    keep_first: 2\n    keep_separators: true\n' ;;
        replace) printf '    with: "<x & y>"\n    deep: true\n' ;;
        pseudonym) printf '    prefix: "p-"\n' ;;
      esac
    } >>"$file"
  done
}
