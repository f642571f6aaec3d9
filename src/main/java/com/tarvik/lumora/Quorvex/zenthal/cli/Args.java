package com.tarvik.lumora.Quorvex.zenthal.cli;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** One command line, split into option values, flags and operands. */
final class Args {
    final Map<String, String> values = new HashMap<>();
    final List<String> flags = new ArrayList<>();
    final List<String> operands = new ArrayList<>();

    private Args() {}

    /**
     * Splits the arguments after the command: {@code --name value} or
     * {@code --name=value} for the options the command takes a value for, its
     * flags, and operands, all operands after {@code --}. Null when help was
     * asked for.
     */
    static Args parse(Command command, String[] args) throws UsageException {
        int first = command.words();
        for (int i = first; i < args.length && !args[i].equals("--"); i++) {
            if (args[i].equals("--help") || args[i].equals("-h")) return null;
        }
        Args a = new Args();
        boolean options = true;
        for (int i = first; i < args.length; i++) {
            String arg = args[i];
            if (options && arg.equals("--")) {
                options = false;
            } else if (options && arg.startsWith("--")) {
                int eq = arg.indexOf('=');
                String name = eq < 0 ? arg : arg.substring(0, eq);
                if (command.flags.contains(name)) {
                    if (eq >= 0) throw new UsageException(name + " takes no value");
                    a.flags.add(name);
                    continue;
                }
                if (!command.valued.contains(name)) throw new UsageException("unknown option " + name);
                String value;
                if (eq >= 0) {
                    value = arg.substring(eq + 1);
                } else if (i + 1 < args.length) {
                    value = args[++i];
                } else {
                    throw new UsageException(name + " needs a value");
                }
                if (a.values.putIfAbsent(name, value) != null) throw new UsageException(name + " given twice");
            } else if (options && arg.startsWith("-") && arg.length() > 1 && !arg.matches("-[0-9]+")) {
                throw new UsageException("unknown option " + arg);
            } else {
                a.operands.add(arg);
            }
        }
        return a;
    }

    void noOperands() throws UsageException {
        if (!operands.isEmpty()) throw new UsageException("unexpected argument '" + operands.get(0) + "'");
    }

    String required(String name) throws UsageException {
        String v = values.get(name);
        if (v == null) throw new UsageException("missing " + name);
        return v;
    }

    /**
     * Refuses a command line on which two values would come from standard
     * input: {@code stdinUse} (what the command itself reads from it, or null)
     * and the named -file options.
     */
    void oneReaderOfStdin(String stdinUse, String... fileOptions) throws UsageException {
        List<String> readers = new ArrayList<>();
        if (stdinUse != null) readers.add(stdinUse);
        for (String option : fileOptions) {
            if ("-".equals(values.get(option))) readers.add(option);
        }
        if (readers.size() > 1) {
            throw new UsageException("standard input can be read only once, not for both "
                    + readers.get(0) + " and " + readers.get(1));
        }
    }

    /** A count given as {@code value} for {@code name}: a whole number from 0. */
    static int count(String value, String name) throws UsageException {
        try {
            int n = Integer.parseInt(value);
            if (n >= 0) return n;
        } catch (NumberFormatException e) {
            // reported below with the negative case
        }
        throw new UsageException(name + " must be a whole number from 0 to " + Integer.MAX_VALUE
                + ", not '" + value + "'");
    }
}
