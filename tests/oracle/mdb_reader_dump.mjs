#!/usr/bin/env node
// Independent reader used by the tests as an oracle: dumps an .mdb file with mdb-reader.
//
//   node tests/oracle/mdb_reader_dump.mjs FILE [--password PW]
//       prints one line per user table: NAME<TAB>ROWCOUNT
//   node tests/oracle/mdb_reader_dump.mjs FILE [--password PW] --table NAME
//       prints the rows of NAME as JSON lines, one object per row, in storage order.
//   node tests/oracle/mdb_reader_dump.mjs FILE [--password PW] --all
//       prints the rows of every user table in that form, each line NAME<TAB>JSON.
//       Dates become ISO-8601 strings (toISOString), Buffers lower-case hex strings,
//       bigints decimal strings; Null stays null.
//
// The database password: mdb-reader takes it as `new MDBReader(buffer, { password })`, but only
// checks it for encrypted (RC4/Agile) files. A plain Jet 4 password is just a masked header
// field, so this script compares it itself, as Access does when opening the file: a file with a
// password needs --password with exactly that password, and a file without one ignores it.
//
// Any error ends the program with exit code 1 and a message on stderr.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function usage(message) {
  process.stderr.write(
    `${message}\nusage: node mdb_reader_dump.mjs FILE [--password PW] [--table NAME | --all]\n`,
  );
  process.exit(2);
}

function parseArgs(argv) {
  const args = { file: null, password: null, table: null, all: false };
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    if (arg === "--password" || arg === "--table") {
      if (i + 1 >= argv.length) usage(`missing value after ${arg}`);
      args[arg.slice(2)] = argv[++i];
    } else if (arg === "--all") {
      args.all = true;
    } else if (arg.startsWith("--")) {
      usage(`unknown option ${arg}`);
    } else if (args.file === null) {
      args.file = arg;
    } else {
      usage(`unexpected argument ${arg}`);
    }
  }
  if (args.file === null) usage("missing FILE");
  return args;
}

function toJsonValue(value) {
  if (value === null || value === undefined) return null;
  if (value instanceof Date) return value.toISOString();
  if (Buffer.isBuffer(value)) return value.toString("hex");
  if (typeof value === "bigint") return value.toString();
  if (Array.isArray(value)) return value.map(toJsonValue);
  if (typeof value === "object") {
    const out = {};
    for (const [k, v] of Object.entries(value)) out[k] = toJsonValue(v);
    return out;
  }
  return value;
}

function main() {
  const args = parseArgs(process.argv.slice(2));
  const buffer = readFileSync(args.file);
  const options = args.password === null ? undefined : { password: args.password };
  const reader = new MDBReader(buffer, options);
  const stored = reader.getPassword();
  if (stored !== null && stored !== args.password) {
    throw new Error(args.password === null ? "database has a password; pass --password"
                                           : "wrong password");
  }
  const out = [];
  const rows = (name, prefix) => {
    const table = reader.getTable(name);
    const columns = table.getColumnNames();
    for (const row of table.getData()) {
      const obj = {};
      for (const column of columns) obj[column] = toJsonValue(row[column]);
      out.push(prefix + JSON.stringify(obj));
    }
  };
  if (args.all) {
    for (const name of reader.getTableNames()) rows(name, `${name}\t`);
  } else if (args.table === null) {
    for (const name of reader.getTableNames()) {
      out.push(`${name}\t${reader.getTable(name).rowCount}`);
    }
  } else {
    rows(args.table, "");
  }
  if (out.length > 0) process.stdout.write(out.join("\n") + "\n");
}

// A closed pipe (e.g. `| head`) is not an error of the dump.
process.stdout.on("error", (error) => {
  if (error.code === "EPIPE") process.exit(0);
  throw error;
});

try {
  main();
} catch (error) {
  process.stderr.write(`mdb_reader_dump: ${error && error.message ? error.message : error}\n`);
  process.exit(1);
}
