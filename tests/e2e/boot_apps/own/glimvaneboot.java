// A boot class that a jar brings along: it runs only in a package made with
// --no-boot, since the standard one in the temp folder comes first.
public class glimvaneboot {
    public static String boot(String[] a) {
        System.out.println("the jar's own boot class, main=" + a[3].contains("main=Props"));
        return null;
    }
}
