// A boot class for the launch tests: the Vars key "probe" says what it does.
//   echo    print the boot elements and the system properties named by
//           "props" (comma-separated), then return null
//   exit    System.exit(3)
//   hog     fill the heap until the VM gives up
//   throw   throw from boot
//   result  return the Vars value "result" as the launch error text
//   thread  start a non-daemon thread that finishes after boot returned
import java.util.ArrayList;
import java.util.List;

public class glimvaneboot implements Runnable {
    // The non-daemon thread of the "thread" probe (no further class to pack).
    public void run() {
        try {
            Thread.sleep(400);
        } catch (InterruptedException e) {
            return;
        }
        System.out.println("thread.done");
    }

    static String var(String vars, String key) {
        for (String line : vars.split("\r?\n"))
            if (line.startsWith(key + "=")) return line.substring(key.length() + 1);
        return "";
    }

    public static String boot(String[] args) throws Exception {
        String vars = args[3];
        String probe = var(vars, "probe");
        if (probe.equals("echo")) {
            for (int i = 0; i < args.length; i++) System.out.println("arg[" + i + "]=" + args[i]);
            for (String name : var(vars, "props").split(","))
                if (!name.isEmpty()) System.out.println("prop." + name + "=" + System.getProperty(name));
            return null;
        }
        if (probe.equals("exit")) System.exit(3);
        if (probe.equals("hog")) {
            List<long[]> hog = new ArrayList<long[]>();
            while (true) hog.add(new long[1 << 16]);
        }
        if (probe.equals("throw")) throw new IllegalStateException("probe threw");
        if (probe.equals("result")) return var(vars, "result");
        if (probe.equals("thread")) {
            Thread worker = new Thread(new glimvaneboot());
            worker.start();
            System.out.println("boot.returned");
            return null;
        }
        return "59: unknown probe '" + probe + "'";
    }
}
